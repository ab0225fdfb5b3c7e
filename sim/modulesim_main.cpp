// modulesim: plays one module on a pseudo-terminal that it adds to the serial-port
// map under a COM name, and on a TCP port of 127.0.0.1 when asked, until it is interrupted.
#include "bootloader.h"
#include "commands.h"
#include "serialmodule.h"
#include "tcpmodule.h"

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
              "                 [--tcp PORT] [--tcp-no-answer] [--tcp-split] [--tcp-nul] [--tcp-bare]\n"
              "                 [--tcp-close-after K] [--log FILE]\n"
              "Plays a high-voltage module (with its update mode) on a pseudo-terminal named NAME (default COM5)\n"
              "in the serial-port map FILE (default: the map Voltdesk reads), and with --tcp also on\n"
              "127.0.0.1:PORT (0: a free port, printed at start). TCP faults: no answer, the LF of each answer\n"
              "in a block of its own, a NUL in place of CR LF, CR LF alone, the connection closed after K bytes\n"
              "of an answer.\n"
              "--log appends each command line received on either side (without its CR LF) to FILE as one line.");
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
    bool tcp = false;
    int tcpPort = 0;
    sim::TcpFaults tcpFaults;
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
        else if (a == "--tcp" && hasValue) { tcp = true; tcpPort = intArg(argv[++i]); }
        else if (a == "--tcp-no-answer") tcpFaults.noAnswer = true;
        else if (a == "--tcp-split") { tcpFaults.splitLineEnd = true; tcpFaults.blockGapMs = 50; }
        else if (a == "--tcp-nul") tcpFaults.nulEnd = true;
        else if (a == "--tcp-bare") tcpFaults.bareLineEnd = true;
        else if (a == "--tcp-close-after" && hasValue) tcpFaults.closeAfterBytes = intArg(argv[++i]);
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
    sim::TcpModule tcpModule(commands);
    tcpModule.setFaults(tcpFaults);
    if (tcp) {
        if (tcpPort < 0 || tcpPort > 65535 || !tcpModule.start(static_cast<std::uint16_t>(tcpPort))) {
            std::fprintf(stderr, "modulesim: cannot listen on 127.0.0.1:%d\n", tcpPort);
            module.stop();
            return 1;
        }
        std::printf("modulesim: TCP on 127.0.0.1:%u\n", static_cast<unsigned>(tcpModule.port()));
    }
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
    std::size_t loggedTcp = 0;
    // Lines reach the log within a poll, so a test can wait for them.
    auto writeLog = [&] {
        if (!log.is_open())
            return;
        const std::vector<std::string> lines = module.lines();
        for (; logged < lines.size(); ++logged)
            log << lines[logged] << '\n';
        const std::vector<std::string> tcpLines = tcpModule.lines();
        for (; loggedTcp < tcpLines.size(); ++loggedTcp)
            log << tcpLines[loggedTcp] << '\n';
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
    tcpModule.stop();
    module.stop();
    writeLog();
    sim::FlashRecord r = bootloader->record();
    if (r.hexLines > 0)
        std::printf("modulesim: %d HEX lines, %d taken, %zu image bytes\n", r.hexLines, r.acceptedLines, r.image.size());
    return 0;
}
