#include "serialmap.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace platform {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::optional<std::string> readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A ttyS device is a real UART only when the kernel reports a port type.
bool isRealUart(const fs::path& dev)
{
    std::ifstream type("/sys/class/tty/" + dev.filename().string() + "/type");
    int t = 0;
    return type >> t && t != 0;
}

// A plain number only: "COM01" is no spelling of COM1, and a fallback for it would
// open /dev/ttyS0 while the map gives COM1 to another device.
std::optional<int> comNumberOf(std::string_view name)
{
    if (name.size() < 4 || name.substr(0, 3) != "COM" || name[3] == '0')
        return std::nullopt;
    int n = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9' || n > 100000)
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

std::string serialMapPath()
{
    if (const char* env = std::getenv("VOLTDESK_SERIALCOMM"); env && *env)
        return env;
    if (const char* home = std::getenv("HOME"); home && *home) {
        std::string user = std::string(home) + "/.config/voltdesk/serialcomm";
        std::error_code ec;
        if (fs::exists(user, ec))
            return user;
    }
    return "/etc/voltdesk/serialcomm";
}

std::vector<SerialPortEntry> parseSerialMap(std::string_view text)
{
    std::vector<SerialPortEntry> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        std::size_t i = 0;
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i == line.size() || line[i] == '#')
            continue;
        std::size_t d = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        std::string device(line.substr(d, i - d));
        while (i < line.size() && isBlank(line[i]))
            ++i;
        std::size_t n = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        std::string name(line.substr(n, i - n));
        if (name.empty())
            continue;
        out.push_back({std::move(device), std::move(name)});
    }
    return out;
}

std::vector<SerialPortEntry> scanSerialDevices()
{
    std::vector<fs::path> found;
    std::error_code ec;
    auto sortedIn = [&](const fs::path& dir, auto keep) {
        std::vector<fs::path> v;
        for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            if (keep(it->path()))
                v.push_back(it->path());
        }
        std::sort(v.begin(), v.end());
        return v;
    };
    std::vector<fs::path> byId = sortedIn("/dev/serial/by-id", [](const fs::path&) { return true; });
    std::vector<fs::path> targets;
    for (const auto& p : byId) {
        found.push_back(p);
        targets.push_back(fs::weakly_canonical(p, ec));
    }
    auto starts = [](const fs::path& p, std::string_view prefix) {
        return p.filename().string().rfind(prefix, 0) == 0;
    };
    auto dev = sortedIn("/dev", [&](const fs::path& p) {
        return starts(p, "ttyUSB") || starts(p, "ttyACM");
    });
    auto uarts = sortedIn("/dev", [&](const fs::path& p) { return starts(p, "ttyS") && isRealUart(p); });
    dev.insert(dev.end(), uarts.begin(), uarts.end());
    for (const auto& p : dev) {
        if (std::find(targets.begin(), targets.end(), p) == targets.end())
            found.push_back(p);
    }
    std::vector<SerialPortEntry> out;
    int n = 1;
    for (const auto& p : found)
        out.push_back({p.string(), "COM" + std::to_string(n++)});
    return out;
}

std::vector<SerialPortEntry> serialPortMap()
{
    if (auto text = readWholeFile(serialMapPath()))
        return parseSerialMap(*text);
    return scanSerialDevices();
}

std::string comDevicePath(std::string_view portName)
{
    for (const auto& e : serialPortMap()) {
        if (e.name == portName)
            return e.device;
    }
    if (auto n = comNumberOf(portName); n && *n >= 1)
        return "/dev/ttyS" + std::to_string(*n - 1);
    return {}; // no such port; never a path relative to the current folder
}

std::string comDevicePath(int comNumber)
{
    return comDevicePath("COM" + std::to_string(comNumber));
}

bool appendSerialMapEntry(const std::string& mapFile, const SerialPortEntry& entry)
{
    std::error_code ec;
    fs::path parent = fs::path(mapFile).parent_path();
    if (!parent.empty())
        fs::create_directories(parent, ec);
    std::ofstream out(mapFile, std::ios::app | std::ios::binary);
    out << entry.device << ' ' << entry.name << '\n';
    return static_cast<bool>(out);
}

bool removeSerialMapEntries(const std::string& mapFile, const std::string& device)
{
    auto text = readWholeFile(mapFile);
    if (!text)
        return false;
    std::string kept;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) {
        auto entries = parseSerialMap(line);
        if (entries.size() == 1 && entries[0].device == device)
            continue;
        kept += line + '\n';
    }
    std::ofstream out(mapFile, std::ios::trunc | std::ios::binary);
    out << kept;
    return static_cast<bool>(out);
}

} // namespace platform
