#include "process.h"

namespace platform::process {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> splitCommandLine(std::string_view line)
{
    std::vector<std::string> args;
    const std::size_t n = line.size();
    std::size_t i = 0;
    if (n == 0)
        return args;

    // The program ends at its closing quote or the first blank, whatever follows.
    std::string program;
    if (line[0] == '"') {
        for (i = 1; i < n && line[i] != '"'; ++i)
            program += line[i];
        if (i < n)
            ++i;
    } else {
        for (; i < n && !isBlank(line[i]); ++i)
            program += line[i];
    }
    args.push_back(std::move(program));

    while (i < n && isBlank(line[i]))
        ++i;
    if (i == n)
        return args;

    std::string arg;
    int quotes = 0; // 1 while inside quotes
    std::size_t backslashes = 0;
    while (i < n) {
        const char c = line[i];
        if (isBlank(c) && quotes == 0) {
            args.push_back(std::move(arg));
            arg.clear();
            backslashes = 0;
            while (i < n && isBlank(line[i]))
                ++i;
            if (i == n)
                return args;
            continue;
        }
        ++i;
        if (c == '\\') {
            arg += c;
            ++backslashes;
            continue;
        }
        if (c != '"') {
            arg += c;
            backslashes = 0;
            continue;
        }
        if (backslashes % 2 == 0) {
            arg.resize(arg.size() - backslashes / 2);
            ++quotes;
        } else {
            arg.resize(arg.size() - backslashes / 2 - 1);
            arg += '"';
        }
        backslashes = 0;
        for (; i < n && line[i] == '"'; ++i) {
            if (++quotes == 3) {
                arg += '"';
                quotes = 0;
            }
        }
        if (quotes == 2)
            quotes = 0;
    }
    args.push_back(std::move(arg));
    return args;
}

std::string programFileName(std::string_view windowsName)
{
    const std::size_t slash = windowsName.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::string name(windowsName);
    for (std::size_t k = nameStart; k < name.size(); ++k)
        if (name[k] >= 'A' && name[k] <= 'Z')
            name[k] = static_cast<char>(name[k] - 'A' + 'a');
    constexpr std::string_view exe = ".exe";
    if (name.size() > nameStart + exe.size() && name.ends_with(exe))
        name.resize(name.size() - exe.size());
    return name;
}

} // namespace platform::process
