#include "console.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace burnport {

void Console::writeLine(std::string_view text)
{
    write(text);
    write("\n");
}

void StdConsole::write(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void StdConsole::waitForEnter()
{
    (void)std::getchar(); // EOF (no terminal, closed input) ends the wait at once
}

void StdConsole::setTitle(std::string_view title)
{
    if (!::isatty(STDOUT_FILENO))
        return;
    std::string seq = "\033]0;" + cleanTitle(title) + "\007";
    write(seq);
}

std::string cleanTitle(std::string_view title)
{
    std::string out;
    for (char c : title) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f)
            out.push_back(c);
        if (out.size() == TitleLimit)
            break;
    }
    return out;
}

std::string format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return {};
    return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
}

} // namespace burnport
