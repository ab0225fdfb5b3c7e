// libFuzzer: random files through the script loader.
#include "scripts/script.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// A line end cannot be loaded, so it marks entries that no load has touched. Every run
// starts with the whole table marked and puts the marks back on what it loaded, so the
// cost of a run follows its input, not the table's size.
const std::string Untouched = "\n";

bool markAll()
{
    ScriptCommands.fill(Untouched);
    ScriptAnswers.fill(Untouched);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool marked = markAll();
    (void)marked;
    std::string copy(reinterpret_cast<const char*>(data), size);
    std::FILE* f = size ? ::fmemopen(copy.data(), size, "rb") : ::fmemopen(nullptr, 1, "w+b");
    if (!f)
        return 0;
    bool loaded = LoadScriptFrom(f);
    std::fclose(f);

    if (loaded != (ScriptLineCount != 0) || ScriptLineCount < 0 || ScriptLineCount > ScriptTableSize)
        __builtin_trap();
    std::size_t lineEnds = std::count(copy.begin(), copy.end(), '\n');
    if (static_cast<std::size_t>(ScriptLineCount) > lineEnds + 1)
        __builtin_trap();
    for (int i = 0; i < ScriptLineCount; ++i) {
        const std::string& command = ScriptCommands[i];
        const std::string& answer = ScriptAnswers[i];
        // At least one TAB stood between the two columns of a line with an answer.
        std::size_t limit = answer.empty() ? ScriptLineLimit : ScriptLineLimit - 1;
        if (command.size() + answer.size() > limit || command.starts_with("//"))
            __builtin_trap();
        if (command.find_first_of(std::string("\t\n\0\x1A", 4)) != std::string::npos ||
            answer.find_first_of(std::string("\n\0\x1A", 3)) != std::string::npos || answer.starts_with('\t'))
            __builtin_trap();
    }
    // Entries beyond the count keep what they held: here, the marks.
    int end = static_cast<int>(std::min<std::size_t>(ScriptTableSize, lineEnds + 2));
    for (int i = ScriptLineCount; i < end; ++i)
        if (ScriptCommands[i] != Untouched || ScriptAnswers[i] != Untouched)
            __builtin_trap();
    if (ScriptCommands[ScriptTableSize - 1] != Untouched && ScriptLineCount < ScriptTableSize)
        __builtin_trap();
    for (int i = 0; i < ScriptLineCount; ++i) {
        ScriptCommands[i] = Untouched;
        ScriptAnswers[i] = Untouched;
    }
    return 0;
}
