// modulesim: plays one module on a pseudo-terminal that it adds to the serial-port
// map under a COM name, until it is interrupted.
#include "bootloader.h"
#include "commands.h"
#include "serialmodule.h"

#include "platform/serialmap.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

void usage()
{
    std::puts("usage: modulesim [--map FILE] [--com NAME] [--id TEXT]\n"
              "                 [--no-echo] [--wrong-echo-at K] [--no-answer] [--no-line-end]\n"
              "                 [--prefix TEXT] [--pieces N --gap MS]\n"
              "                 [--flash-mode] [--update-reply TEXT] [--paced BAUD] [--latency MS]\n"
              "                 [--log FILE]\n"
              "Plays a high-voltage module (with its update mode) on a pseudo-terminal named NAME (default COM5)\n"
              "in the serial-port map FILE (default: the map Voltdesk reads).\n"
              "--log appends each command line received (without its CR LF) to FILE as one line.");
}

int intArg(const char* v)
{
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    if (!*v || *end) {
        std::fprintf(stderr, "modulesim: '%s' is not a number\n", v);
        std::exit(2);
    }
    return static_cast<int>(n);
}

} // namespace

int main(int argc, char** argv)
{
    std::string mapFile = platform::serialMapPath();
    std::string com = "COM5";
    std::string id;
    sim::SerialFaults faults;
    sim::BootloaderFaults bootFaults;
    bool flashMode = false;
    std::string logFile;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--map" && hasValue) mapFile = argv[++i];
        else if (a == "--com" && hasValue) com = argv[++i];
        else if (a == "--id" && hasValue) id = argv[++i];
        else if (a == "--no-echo") faults.noEcho = true;
        else if (a == "--wrong-echo-at" && hasValue) faults.wrongEchoAt = intArg(argv[++i]);
        else if (a == "--no-answer") faults.noAnswer = true;
        else if (a == "--no-line-end") faults.noLineEnd = true;
        else if (a == "--prefix" && hasValue) faults.prefix = argv[++i];
        else if (a == "--pieces" && hasValue) faults.answerPieces = intArg(argv[++i]);
        else if (a == "--gap" && hasValue) faults.pieceGapMs = intArg(argv[++i]);
        else if (a == "--flash-mode") flashMode = true;
        else if (a == "--update-reply" && hasValue) bootFaults.updateModeReply = argv[++i];
        else if (a == "--paced" && hasValue) faults.pacedBaud = intArg(argv[++i]);
        else if (a == "--latency" && hasValue) faults.adapterLatencyMs = intArg(argv[++i]);
        else if (a == "--log" && hasValue) logFile = argv[++i];
        else {
            usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    sim::ModuleCommands commands;
    if (!id.empty())
        commands.setIdentification(id);
    sim::SerialModule module(commands);
    module.setFaults(faults);
    auto bootloader = std::make_shared<sim::Bootloader>();
    bootloader->setFaults(bootFaults);
    if (flashMode)
        sim::startInFlashMode(module, bootloader);
    else
        sim::attachBootloader(module, bootloader);
    if (!module.start()) {
        std::perror("modulesim: cannot open a pseudo-terminal");
        return 1;
    }
    if (!module.registerAs(mapFile, com)) {
        std::fprintf(stderr, "modulesim: cannot write the serial-port map %s\n", mapFile.c_str());
        return 1;
    }
    std::printf("modulesim: %s on %s (map %s)\n", com.c_str(), module.devicePath().c_str(), mapFile.c_str());
    std::fflush(stdout);

    std::ofstream log;
    if (!logFile.empty()) {
        log.open(logFile, std::ios::binary | std::ios::app);
        if (!log) {
            std::fprintf(stderr, "modulesim: cannot write the log %s\n", logFile.c_str());
            return 1;
        }
    }
    std::size_t logged = 0;
    // Lines reach the log within a poll, so a test can wait for them.
    auto writeLog = [&] {
        if (!log.is_open())
            return;
        const std::vector<std::string> lines = module.lines();
        for (; logged < lines.size(); ++logged)
            log << lines[logged] << '\n';
        log.flush();
    };

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!stopRequested) {
        if (log.is_open()) {
            writeLog();
            ::usleep(10'000);
        } else {
            ::pause();
        }
    }
    module.stop();
    writeLog();
    sim::FlashRecord r = bootloader->record();
    if (r.hexLines > 0)
        std::printf("modulesim: %d HEX lines, %d taken, %zu image bytes\n", r.hexLines, r.acceptedLines, r.image.size());
    return 0;
}
