#include "historyfile.h"

namespace terminal {

std::vector<std::string_view> SplitHistory(std::string_view bytes)
{
    std::vector<std::string_view> out;
    bytes = bytes.substr(0, bytes.find('\0'));
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        out.push_back(bytes.substr(start, i - start));
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        out.push_back(bytes.substr(start));
    return out;
}

} // namespace terminal
