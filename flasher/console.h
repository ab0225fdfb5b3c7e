#pragma once
// Where Burnport's texts go and where it waits for Enter. The program uses the
// process's console; tests capture the text and never block.
#include <cstdarg>
#include <string>
#include <string_view>

namespace burnport {

class Console {
public:
    virtual ~Console() = default;
    virtual void write(std::string_view text) = 0;
    // Reads one character from the user; ends at once when there is no input.
    virtual void waitForEnter() = 0;
    virtual void setTitle(std::string_view title) = 0;

    // The text with one line end added.
    void writeLine(std::string_view text);
    // The text exactly as it stands.
    void print(std::string_view text) { write(text); }
};

// Standard output and standard input; the title goes out as the xterm title
// sequence when standard output is a terminal.
class StdConsole final : public Console {
public:
    void write(std::string_view text) override;
    void waitForEnter() override;
    void setTitle(std::string_view title) override;
};

// Longest title a console window takes.
inline constexpr std::size_t TitleLimit = 255;
// The title with control characters dropped (they would steer the terminal) and cut.
std::string cleanTitle(std::string_view title);

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace burnport
