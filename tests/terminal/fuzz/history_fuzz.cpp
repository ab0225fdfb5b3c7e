// libFuzzer: history.txt as a user may have edited it, through the history reader.
#include "terminal/historyfile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto entries = terminal::SplitHistory(bytes);
    std::size_t total = 0;
    std::string written;
    for (std::string_view e : entries) {
        // Every entry lies inside the input and holds no line end and no NUL.
        if (e.data() < bytes.data() || e.data() + e.size() > bytes.data() + bytes.size())
            __builtin_trap();
        if (e.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
            __builtin_trap();
        total += e.size() + 1;
        written.append(e).append("\r\n");
    }
    if (total > size + 1)
        __builtin_trap();
    // Written back as the program writes it (CR LF after each), the file reads the same.
    const auto reread = terminal::SplitHistory(written);
    if (reread.size() != entries.size())
        __builtin_trap();
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (reread[i] != entries[i])
            __builtin_trap();
    return 0;
}
