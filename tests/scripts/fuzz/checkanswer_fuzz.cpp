// libFuzzer: random expected answers against random answers.
#include "scripts/script.h"

#include <boost/regex.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// An expected answer comes from one script line; answers are read from a link in
// pieces of about that size. Longer inputs only make each run slower (the regex
// library's effort bound grows with the answer's length).
constexpr std::size_t AnswerLimit = 1024;

bool isPlainText(const std::string& s)
{
    for (unsigned char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == ':'))
            return false;
    return true;
}

} // namespace

// The input is the expected answer, a NUL, then the answer.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t nul = input.find('\0');
    std::string expected = input.substr(0, nul);
    std::string answer = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    if (expected.size() > ScriptLineLimit || answer.size() > AnswerLimit)
        return -1;
    bool match;
    try {
        match = CheckAnswer(answer.c_str(), expected.c_str());
    } catch (const boost::regex_error&) {
        return 0; // any other exception escapes and is reported
    }
    // Letters, digits, blanks and colons match only themselves, and the whole answer.
    if (isPlainText(expected) && match != (answer.c_str() == expected))
        __builtin_trap();
    return 0;
}
