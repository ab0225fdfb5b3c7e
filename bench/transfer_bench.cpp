// Transfer benchmark: the burnport program against the simulated module on a paced
// line (115200 baud 8N1, 1 ms adapter latency). Prints figures; not a test.
//   burnport_bench [--kib N] [--slow-kib N]
#include "platform/serialmap.h"
#include "sim/bootloader.h"
#include "sim/serialmodule.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int LineBaud = 115200;
constexpr int AdapterLatencyMs = 1;
constexpr int RecordBytes = 16;
// Per line on the wire: the record and its CR LF, then "82\r\n" and "85\r\n".
constexpr int WireBytesPerLine = 2 + 2 + 8 + 2 * RecordBytes + 2 + 2 + 8;
constexpr double ByteSeconds = 10.0 / LineBaud;

struct Result {
    int code = -1;
    int lines = 0;
    double transferSeconds = 0;
    double cpuSeconds = 0;
    bool imageMatches = false;
};

std::string makeFile(const std::string& dir, std::size_t bytes, std::vector<std::uint8_t>& data)
{
    std::mt19937 rng(7);
    data.resize(bytes);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    std::string bin = dir + "/image.bin", s37 = dir + "/image" + std::to_string(bytes) + ".s37";
    std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<long>(bytes));
    std::string cmd = "srec_cat " + bin + " -binary -o " + s37 + " -motorola -address-length=4 -obs=" +
                      std::to_string(RecordBytes) + " -disable=header";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "srec_cat failed\n");
        std::exit(1);
    }
    return s37;
}

Result runOnce(const std::string& dir, std::size_t bytes, bool fast)
{
    std::string map = dir + "/serialcomm";
    std::filesystem::remove(map);
    ::setenv("VOLTDESK_SERIALCOMM", map.c_str(), 1);
    std::vector<std::uint8_t> data;
    std::string file = makeFile(dir, bytes, data);

    sim::ModuleCommands commands;
    sim::SerialModule module(commands);
    sim::SerialFaults line;
    line.pacedBaud = LineBaud;
    line.adapterLatencyMs = AdapterLatencyMs;
    module.setFaults(line);
    auto boot = std::make_shared<sim::Bootloader>();
    if (!module.start() || !module.registerAs(map, "COM40")) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        std::exit(1);
    }
    sim::startInFlashMode(module, boot);

    std::vector<std::string> args{BURNPORT_PATH, "--retry", "--com", "40", "--file", file};
    if (fast)
        args.push_back("--fast");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    Result r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return r;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    module.stop();
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    sim::FlashRecord rec = boot->record();
    r.lines = rec.hexLines;
    double span = std::chrono::duration<double>(rec.lastLine - rec.firstLine).count();
    r.transferSeconds = r.lines > 1 ? span * r.lines / (r.lines - 1) : span;
    r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.imageMatches = boot->image(0) == data;
    return r;
}

void print(const char* form, std::size_t bytes, const Result& r)
{
    double floor = r.lines * WireBytesPerLine * ByteSeconds;
    std::printf("%-14s %6zu KiB %5d lines  exit %d  image %s\n", form, bytes / 1024, r.lines, r.code,
                r.imageMatches ? "equal" : "DIFFERENT");
    std::printf("%-14s transfer %.2f s, %.0f payload B/s, %.2f x wire floor (%.2f s), burnport CPU %.2f s\n", "",
                r.transferSeconds, static_cast<double>(bytes) / r.transferSeconds, r.transferSeconds / floor, floor,
                r.cpuSeconds);
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t kib = 64, slowKib = 8;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--kib")
            kib = std::strtoul(argv[i + 1], nullptr, 10);
        else if (a == "--slow-kib")
            slowKib = std::strtoul(argv[i + 1], nullptr, 10);
    }
    char tmpl[] = "/tmp/burnport-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    std::string dir = tmpl;
    std::printf("line %d baud 8N1 (%.1f us a byte), adapter latency %d ms, %d-byte S3 records, %d wire bytes a line\n",
                LineBaud, ByteSeconds * 1e6, AdapterLatencyMs, RecordBytes, WireBytesPerLine);
    print("burst (--fast)", kib * 1024, runOnce(dir, kib * 1024, true));
    print("per character", slowKib * 1024, runOnce(dir, slowKib * 1024, false));
    std::filesystem::remove_all(dir);
    return 0;
}
