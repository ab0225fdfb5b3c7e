// libgpibsim: a simulated NI-488.2 driver library. Listeners come from
// VOLTDESK_GPIB_SIM, e.g. "5,17" or "5,17,9:silent" (unset: "5,17"). Besides the
// NI-488.2 entries it exports gpibsim_calls(), gpibsim_reset() and
// gpibsim_set_silent() for tests.
//
// Build variants: GPIBSIM_NO_USER_IBCNTL leaves out "user_ibcntl";
// GPIBSIM_PLAIN_STATUS_NAMES exports "ibsta", "iberr", "ibcntl" instead of the
// "user_" names. (The variant without ibclr hides it at link time.)
#include "gpibbus.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#define GPIBSIM_EXPORT __attribute__((visibility("default")))

namespace {
constexpr const char* ListenerVariable = "VOLTDESK_GPIB_SIM";
constexpr const char* DefaultListeners = "5,17";
int hiddenCount = 0;
} // namespace

extern "C" {
#ifdef GPIBSIM_PLAIN_STATUS_NAMES
GPIBSIM_EXPORT int ibsta;
GPIBSIM_EXPORT int iberr;
GPIBSIM_EXPORT int ibcntl;
#define GPIBSIM_STA ibsta
#define GPIBSIM_ERR iberr
#define GPIBSIM_CNTL ibcntl
#else
GPIBSIM_EXPORT int user_ibsta;
GPIBSIM_EXPORT int user_iberr;
#define GPIBSIM_STA user_ibsta
#define GPIBSIM_ERR user_iberr
#ifdef GPIBSIM_NO_USER_IBCNTL
#define GPIBSIM_CNTL hiddenCount
#else
GPIBSIM_EXPORT int user_ibcntl;
#define GPIBSIM_CNTL user_ibcntl
#endif
#endif
}

namespace {

std::mutex busMutex;
std::unique_ptr<sim::GpibBus> theBus;
std::string callText;

sim::GpibBus& bus()
{
    if (!theBus) {
        const char* spec = std::getenv(ListenerVariable);
        std::vector<std::string> rejected;
        theBus = std::make_unique<sim::GpibBus>(sim::parseGpibListeners(spec ? spec : DefaultListeners, &rejected));
        for (const std::string& r : rejected)
            std::fprintf(stderr, "gpibsim: %s: ignoring listener \"%s\"\n", ListenerVariable, r.c_str());
    }
    return *theBus;
}

// A caller on another thread may read the status while this one writes it.
void publish(const sim::GpibStatus& s)
{
    std::atomic_ref<int>(GPIBSIM_STA).store(s.sta, std::memory_order_relaxed);
    std::atomic_ref<int>(GPIBSIM_ERR).store(s.err, std::memory_order_relaxed);
    std::atomic_ref<int>(GPIBSIM_CNTL).store(s.cntl, std::memory_order_relaxed);
    (void)hiddenCount;
}

// Runs one entry on the bus and publishes its status.
template <typename F>
auto onBus(F f)
{
    std::lock_guard lock(busMutex);
    sim::GpibBus& b = bus();
    if constexpr (std::is_void_v<decltype(f(b))>) {
        f(b);
        publish(b.status());
    } else {
        auto result = f(b);
        publish(b.status());
        return result;
    }
}

constexpr const char* EntryNames[] = {
#define GPIBSIM_NAME(name, params, args) #name,
    VOLTDESK_GPIB_ALL_ENTRIES(GPIBSIM_NAME)
#undef GPIBSIM_NAME
};

constexpr const char* nameOf(GpibEntryId id) { return EntryNames[static_cast<int>(id)]; }

// Every entry the simulation does not implement fails with ECAP.
template <GpibEntryId Id>
struct Entry {
    template <typename... A>
    static int status(A...) { return onBus([](sim::GpibBus& b) { return b.unsupported(nameOf(Id)); }); }
    template <typename... A>
    static int descriptor(A...)
    {
        onBus([](sim::GpibBus& b) { return b.unsupported(nameOf(Id)); });
        return -1;
    }
    template <typename... A>
    static void routine(A...) { onBus([](sim::GpibBus& b) { b.unsupported(nameOf(Id)); }); }
    // The per-thread reads give the process-wide status: the simulation is one bus.
    static int thread()
    {
        return onBus([](sim::GpibBus& b) {
            b.noteStatusRead(nameOf(Id));
            const sim::GpibStatus& s = b.status();
            if constexpr (Id == GpibEntryId::ThreadIbsta)
                return s.sta;
            else if constexpr (Id == GpibEntryId::ThreadIberr)
                return s.err;
            else
                return s.cntl;
        });
    }
};

template <>
struct Entry<GpibEntryId::ibdev> {
    static int descriptor(int boardId, int pad, int sad, int tmo, int eot, int eos)
    {
        return onBus([&](sim::GpibBus& b) { return b.ibdev(boardId, pad, sad, tmo, eot, eos); });
    }
};
template <>
struct Entry<GpibEntryId::ibconfig> {
    static int status(int ud, int option, int v)
    {
        return onBus([&](sim::GpibBus& b) { return b.ibconfig(ud, option, v); });
    }
};
template <>
struct Entry<GpibEntryId::ibwrt> {
    static int status(int ud, const void* buf, long cnt)
    {
        return onBus([&](sim::GpibBus& b) { return b.ibwrt(ud, buf, cnt); });
    }
};
template <>
struct Entry<GpibEntryId::ibrd> {
    static int status(int ud, void* buf, long cnt)
    {
        return onBus([&](sim::GpibBus& b) { return b.ibrd(ud, buf, cnt); });
    }
};
template <>
struct Entry<GpibEntryId::ibclr> {
    static int status(int ud) { return onBus([&](sim::GpibBus& b) { return b.ibclr(ud); }); }
};
template <>
struct Entry<GpibEntryId::ibonl> {
    static int status(int ud, int v) { return onBus([&](sim::GpibBus& b) { return b.ibonl(ud, v); }); }
};
template <>
struct Entry<GpibEntryId::SendIFC> {
    static void routine(int boardId) { onBus([&](sim::GpibBus& b) { b.SendIFC(boardId); }); }
};
template <>
struct Entry<GpibEntryId::FindLstn> {
    static void routine(int boardId, const Addr4882_t* addrs, Addr4882_t* results, int limit)
    {
        onBus([&](sim::GpibBus& b) { b.FindLstn(boardId, addrs, results, limit); });
    }
};

} // namespace

extern "C" {

#define GPIBSIM_STATUS(name, params, args) \
    GPIBSIM_EXPORT int name params { return Entry<GpibEntryId::name>::status args; }
#define GPIBSIM_DESCRIPTOR(name, params, args) \
    GPIBSIM_EXPORT int name params { return Entry<GpibEntryId::name>::descriptor args; }
#define GPIBSIM_ROUTINE(name, params, args) \
    GPIBSIM_EXPORT void name params { Entry<GpibEntryId::name>::routine args; }
#define GPIBSIM_THREAD(name, params, args) \
    GPIBSIM_EXPORT int name params { return Entry<GpibEntryId::name>::thread(); }

VOLTDESK_GPIB_STATUS_ENTRIES(GPIBSIM_STATUS)
VOLTDESK_GPIB_DESCRIPTOR_ENTRIES(GPIBSIM_DESCRIPTOR)
VOLTDESK_GPIB_ROUTINE_ENTRIES(GPIBSIM_ROUTINE)
VOLTDESK_GPIB_THREAD_ENTRIES(GPIBSIM_THREAD)

// The calls so far, one line each, each ended by a line feed. The text stays
// valid until the next call of gpibsim_calls or gpibsim_reset.
GPIBSIM_EXPORT const char* gpibsim_calls(void)
{
    std::lock_guard lock(busMutex);
    callText.clear();
    for (const std::string& line : bus().calls())
        callText += line + '\n';
    return callText.c_str();
}

// Forgets the calls, the descriptors and the listeners' state, and reads the
// listener list again.
GPIBSIM_EXPORT void gpibsim_reset(void)
{
    std::lock_guard lock(busMutex);
    theBus.reset();
    callText.clear();
    publish({});
}

// A listener that stops answering (or answers again); false when there is none at
// the address.
GPIBSIM_EXPORT int gpibsim_set_silent(int address, int silent)
{
    std::lock_guard lock(busMutex);
    sim::GpibBus::Listener* l = bus().listenerAt(address);
    if (l)
        l->silent = silent != 0;
    return l != nullptr;
}

} // extern "C"
