#pragma once
// The simulated GPIB bus behind libgpibsim: a board at index 0 and listeners at
// configured primary addresses, each answering like the simulated module. The
// bus is single-threaded; the exported entry points serialise calls to it.
#include "commands.h"
#include "devices/gpib_entries.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct GpibListenerConfig {
    int address = 0;
    bool silent = false; // takes commands, never answers
};

// Parses a listener list such as "5,17,9:silent". Entries that are not a
// primary address 1..30 (with known options) are left out and named in rejected.
std::vector<GpibListenerConfig> parseGpibListeners(std::string_view spec,
                                                   std::vector<std::string>* rejected = nullptr);

struct GpibStatus {
    int sta = 0;
    int err = 0;
    int cntl = 0;
};

class GpibBus {
public:
    static constexpr int FirstDescriptor = 32; // apart from the addresses, so mix-ups show
    static constexpr int MaxPrimaryAddress = 30;
    static constexpr int MaxTimeoutCode = 17;
    static constexpr int MaxListEntries = 1024; // bound on an address list without NOADDR
    static constexpr char AnswerTerminator = '\n';

    explicit GpibBus(const std::vector<GpibListenerConfig>& listeners);

    int ibdev(int boardId, int pad, int sad, int tmo, int eot, int eos);
    int ibconfig(int ud, int option, int v);
    int ibwrt(int ud, const void* buf, long cnt);
    int ibrd(int ud, void* buf, long cnt);
    int ibclr(int ud);
    int ibonl(int ud, int v);
    void SendIFC(int boardId);
    void FindLstn(int boardId, const Addr4882_t* addrs, Addr4882_t* results, int limit);
    // Any other entry: recorded, fails with ECAP.
    int unsupported(const char* name);
    // Per-thread status reads: recorded, the status is left as it is.
    void noteStatusRead(const char* name) { record(name); }

    const GpibStatus& status() const { return status_; }
    // One line per call, e.g. "ibdev 0 17 0 10 1 0".
    const std::vector<std::string>& calls() const { return calls_; }

    struct Listener {
        int address = 0;
        bool silent = false;
        ModuleCommands commands;
        std::string output; // the unread answer
    };
    Listener* listenerAt(int address);

private:
    struct Device {
        int pad = 0;
        Listener* listener = nullptr; // none at this address
    };

    Device* device(int ud);
    int fail(int err, int extraStatus = 0);
    int complete(int count, int extraStatus = 0);
    void record(std::string line) { calls_.push_back(std::move(line)); }

    std::vector<std::unique_ptr<Listener>> listeners_;
    std::map<int, Device> devices_;
    int nextDescriptor_ = FirstDescriptor;
    GpibStatus status_;
    std::vector<std::string> calls_;
};

} // namespace sim
