// Script run benchmark: a one-line script over RS-232 against the simulated module
// (the modulesim program, so that this process's CPU time is the run's alone), with a
// delay of 10 ms, for a fixed time. Prints figures; not a test.
//   script_bench [--seconds N]
#include "scripts/script.h"
#include "scripts/scriptrun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Com = 41;
constexpr int DelayMs = 10;
// What the waits of one line add up to: the delay, the echoed write (5 ms, then one
// 5 ms poll for each of the 7 bytes of "*IDN?" CR LF), and then 10 ms after a line
// that is only sent, or one 10 ms read poll and the delay again after an answer.
constexpr double SentLineWaitsMs = DelayMs + 5 + 7 * 5 + 10;
constexpr double AnsweredLineWaitsMs = DelayMs + 5 + 7 * 5 + 10 + DelayMs;

class TimingSink : public scripts::LogSink {
public:
    void UpdateLog(const std::string& message) override
    {
        if (message.empty())
            return;
        std::lock_guard lock(mutex_);
        if (message.find("*IDN?") == 0)
            times_.push_back(Clock::now());
        else
            other_.push_back(message);
    }
    void ClearLog() override {}
    std::vector<Clock::time_point> times() const
    {
        std::lock_guard lock(mutex_);
        return times_;
    }
    std::vector<std::string> other() const
    {
        std::lock_guard lock(mutex_);
        return other_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> times_;
    std::vector<std::string> other_;
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void runOnce(const std::string& dir, const char* title, const std::string& scriptLine, double waitsMs, int seconds)
{
    const std::string file = dir + "/script.txt";
    std::ofstream(file) << scriptLine << "\n";

    bool opened = false;
    links::Link link;
    link.setPort(std::make_unique<CRS232>(Com, 9600, opened));
    if (!opened) {
        std::fprintf(stderr, "cannot open COM%d\n", Com);
        std::exit(1);
    }
    link.setCommandDelay(DelayMs);

    TimingSink sink;
    std::atomic<bool> hurry{false};
    scripts::RunSettings settings{file, links::LinkKind::Rs232, false};
    StopScript = false;
    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    std::thread worker([&] { scripts::ExecuteScript(settings, link, sink, hurry); });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    StopScript = true;
    worker.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;

    const auto times = sink.times();
    std::vector<double> periods;
    for (std::size_t i = 1; i < times.size(); ++i)
        periods.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    std::sort(periods.begin(), periods.end());
    double mean = 0;
    for (double p : periods)
        mean += p;
    mean = periods.empty() ? 0 : mean / static_cast<double>(periods.size());
    const double p99 = periods.empty() ? 0 : periods[std::min(periods.size() - 1, periods.size() * 99 / 100)];

    std::printf("%s\n", title);
    std::printf("  lines             %zu in %.2f s: %.2f lines/s\n", times.size(), wall,
                static_cast<double>(times.size()) / wall);
    std::printf("  period            mean %.2f ms, p99 %.2f ms (waits add up to %.0f ms: mean %+.1f %%)\n", mean, p99,
                waitsMs, (mean / waitsMs - 1) * 100);
    std::printf("  process CPU time  %.3f s = %.2f %% of one core\n", cpu, cpu / wall * 100);
    for (const std::string& line : sink.other())
        std::printf("  %s\n", line.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));

    const std::string dir = std::filesystem::temp_directory_path() / ("script_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string map = dir + "/serialcomm";
    ::setenv("VOLTDESK_SERIALCOMM", map.c_str(), 1);

    // The module in a process of its own.
    std::vector<std::string> args{MODULESIM_PATH, "--map", map, "--com", "COM" + std::to_string(Com)};
    std::vector<char*> argv2;
    for (auto& a : args)
        argv2.push_back(a.data());
    argv2.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv2[0], nullptr, nullptr, argv2.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", MODULESIM_PATH);
        return 1;
    }
    // Ready once it has named its terminal in the map.
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(map);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (content.find("COM" + std::to_string(Com)) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    std::printf("Script run over RS-232 against the simulated module, delay %d ms, %d s each\n", DelayMs, seconds);
    runOnce(dir, "\"*IDN?\" without expected answer", "*IDN?", SentLineWaitsMs, seconds);
    runOnce(dir, "\"*IDN?\" with an expected answer", "*IDN?\tHVSIM,.*", AnsweredLineWaitsMs, seconds);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    std::filesystem::remove_all(dir);
    return 0;
}
