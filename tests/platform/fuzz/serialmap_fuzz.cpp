// libFuzzer: a serial-port map file as a user may write it, read and used to resolve
// a port name. Input: the port name, a NUL byte, the map file.
#include "platform/serialmap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The map is read from a file, as the programs read it.
const std::string& mapFile()
{
    static const std::string path = [] {
        char name[] = "/tmp/serialmap_fuzz-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd >= 0)
            ::close(fd);
        ::setenv("VOLTDESK_SERIALCOMM", name, 1);
        return std::string(name);
    }();
    return path;
}

// "COM" and decimal digits without a leading zero: the number (capped at 10^12), or -1.
long long comNumber(std::string_view name)
{
    if (name.size() < 4 || name.substr(0, 3) != "COM" || name[3] == '0')
        return -1;
    long long n = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9')
            return -1;
        n = std::min(n * 10 + (c - '0'), 1000000000000LL);
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view name = nul == std::string_view::npos ? std::string_view{} : input.substr(0, nul);
    const std::string_view text = nul == std::string_view::npos ? input : input.substr(nul + 1);

    const auto entries = platform::parseSerialMap(text);
    std::string again;
    for (const auto& e : entries) {
        if (e.device.empty() || e.name.empty() || e.device[0] == '#')
            __builtin_trap();
        for (char c : e.device + e.name)
            if (isBlank(c))
                __builtin_trap();
        again += e.device + "\t" + e.name + "\r\n";
    }
    // Written back one entry a line, the map reads the same.
    const auto reread = platform::parseSerialMap(again);
    if (reread.size() != entries.size())
        __builtin_trap();
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (reread[i].device != entries[i].device || reread[i].name != entries[i].name)
            __builtin_trap();

    // A name resolves to the first entry of that name, else COMn to /dev/ttyS<n-1>.
    if (nul == std::string_view::npos)
        return 0;
    std::FILE* f = std::fopen(mapFile().c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    const std::string device = platform::comDevicePath(name);
    for (const auto& e : entries) {
        if (e.name == name) {
            if (device != e.device)
                __builtin_trap();
            return 0;
        }
    }
    const long long n = comNumber(name);
    const std::string fallback = n >= 1 ? "/dev/ttyS" + std::to_string(n - 1) : std::string();
    if (n >= 1 && n <= 100000 && device != fallback)
        __builtin_trap();
    // Anything else gives nothing to open (never a path made of the name).
    if (n > 100000 && !device.empty() && device != fallback)
        __builtin_trap();
    if (n < 1 && !device.empty())
        __builtin_trap();
    return 0;
}
