#include "script.h"

#include <boost/regex.hpp>

#include <stdexcept>
#include <string_view>

std::array<std::string, 2000> ScriptCommands;
std::array<std::string, 2000> ScriptAnswers;
std::int32_t ScriptLineCount = 0;
std::atomic<bool> StopScript{false};

namespace {

constexpr int CtrlZ = 0x1A;

enum class LineRead { Line, End, TooLong };

// Hands out the lines of a script file as the text mode of a Windows C runtime does:
// CR LF becomes a line end, a CR elsewhere stays, Ctrl-Z ends the text. A line is
// never read further than one character past the limit, so a huge line costs nothing.
class ScriptLineReader {
public:
    explicit ScriptLineReader(std::FILE* file) : file_(file) {}

    // The line is cut at its first NUL byte: the table holds zero-terminated texts,
    // and every runner hands them on as such. The length limit counts the whole line.
    LineRead next(std::string& line)
    {
        line.clear();
        if (ended_)
            return LineRead::End;
        std::size_t length = 0;
        bool cut = false;
        for (;;) {
            int c = std::getc(file_);
            if (c == '\r') {
                int after = std::getc(file_);
                if (after == '\n')
                    return LineRead::Line;
                if (after != EOF)
                    std::ungetc(after, file_);
            } else if (c == '\n') {
                return LineRead::Line;
            } else if (c == EOF || c == CtrlZ) {
                // A read error ends the text like its end: what was read stays loaded.
                ended_ = true;
                return length ? LineRead::Line : LineRead::End;
            }
            if (++length > ScriptLineLimit)
                return LineRead::TooLong;
            if (c == '\0')
                cut = true;
            if (!cut)
                line.push_back(static_cast<char>(c));
        }
    }

private:
    std::FILE* file_;
    bool ended_ = false;
};

void storeScriptLine(const std::string& line, int index)
{
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
        ScriptCommands[index] = line;
        ScriptAnswers[index].clear();
        return;
    }
    std::size_t answer = line.find_first_not_of('\t', tab);
    ScriptCommands[index] = line.substr(0, tab);
    ScriptAnswers[index] = answer == std::string::npos ? std::string() : line.substr(answer);
}

} // namespace

bool LoadScriptFrom(std::FILE* file)
{
    ScriptLineCount = 0;
    if (!file)
        return false;
    ScriptLineReader reader(file);
    std::string line;
    while (reader.next(line) == LineRead::Line && ScriptLineCount < ScriptTableSize) {
        if (line.empty() || line.starts_with("//"))
            continue;
        storeScriptLine(line, ScriptLineCount);
        ++ScriptLineCount;
    }
    return ScriptLineCount != 0;
}

bool LoadScript(const char* fileName)
{
    ScriptLineCount = 0;
    std::FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
    if (!file)
        return false;
    bool loaded = LoadScriptFrom(file);
    std::fclose(file);
    return loaded;
}

bool CheckAnswer(const char* answer, const char* expected)
{
    const boost::regex pattern(expected ? expected : "");
    try {
        return boost::regex_match(answer ? answer : "", pattern);
    } catch (const boost::regex_error&) {
        throw;
    } catch (const std::runtime_error& e) {
        // The matcher gives up with a plain runtime_error; callers catch one error type.
        using namespace boost::regex_constants;
        const bool stack = e.what() == std::string_view(boost::regex_error(error_stack).what());
        throw boost::regex_error(e.what(), stack ? error_stack : error_complexity);
    }
}
