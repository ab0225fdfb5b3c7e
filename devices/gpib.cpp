#include "gpib.h"

#include "gpib_driver.h"
#include "gpib_testing.h"

#include <array>
#include <atomic>
#include <cerrno>

std::atomic<int> ibsta{0};
std::atomic<int> iberr{0};
std::atomic<int> ibcnt{0};
std::atomic<std::int32_t> ibcntl{0};

namespace {

#define VOLTDESK_GPIB_COUNT(name, params, args) +1
static_assert(0 VOLTDESK_GPIB_STATUS_ENTRIES(VOLTDESK_GPIB_COUNT) == 48);
static_assert(0 VOLTDESK_GPIB_DESCRIPTOR_ENTRIES(VOLTDESK_GPIB_COUNT) == 3);
static_assert(0 VOLTDESK_GPIB_ROUTINE_ENTRIES(VOLTDESK_GPIB_COUNT) == 29);
static_assert(0 VOLTDESK_GPIB_THREAD_ENTRIES(VOLTDESK_GPIB_COUNT) == 4);
#undef VOLTDESK_GPIB_COUNT

constexpr const char* EntryNames[] = {
#define VOLTDESK_GPIB_NAME(name, params, args) #name,
    VOLTDESK_GPIB_ALL_ENTRIES(VOLTDESK_GPIB_NAME)
#undef VOLTDESK_GPIB_NAME
};

// The layer takes no lock: the GUI thread and the script worker may resolve the
// same entry at once and then store the same address. Atomics keep that defined.
std::atomic<gpib_driver::Handle> gpibLibrary{nullptr};
std::atomic<int*> userIbsta{nullptr};
std::atomic<int*> userIberr{nullptr};
std::atomic<int*> userIbcntl{nullptr};
std::array<std::atomic<void*>, GpibEntryCount> entryCache{};
std::atomic<int> entryLookups{0};

// The status after the library or an entry could not be found: an error with
// no driver error code, and the system's reason in both counts.
// The status variables carry no other data between threads: relaxed stores do.
void setStatus(int sta, int err, int count)
{
    ibsta.store(sta, std::memory_order_relaxed);
    iberr.store(err, std::memory_order_relaxed);
    ibcnt.store(count, std::memory_order_relaxed);
    ibcntl.store(count, std::memory_order_relaxed);
}

void setFailure(int systemError)
{
    setStatus(gpib::StatusError, 0, systemError);
}

// The driver writes its status variables during the call of whichever thread
// called it; read them as atomics so that a call running on the other thread
// is no data race.
int driverValue(const std::atomic<int*>& variable)
{
    return std::atomic_ref<int>(*variable.load()).load(std::memory_order_relaxed);
}

// The library counts only with all three status variables; without them it is
// released again, and the next call tries anew.
bool loadLibrary()
{
    gpib_driver::Handle h = gpib_driver::open();
    if (!h)
        return false;
    gpib_driver::StatusExports exports;
    if (!gpib_driver::findStatusExports(h, exports)) {
        gpib_driver::close(h);
        return false;
    }
    userIbsta = exports.ibsta;
    userIberr = exports.iberr;
    userIbcntl = exports.ibcntl;
    gpibLibrary = h; // never released from here on
    return true;
}

void copyStatus()
{
    const int sta = driverValue(userIbsta);
    const int err = driverValue(userIberr);
    // One read for both counts, so they stay equal even if the driver moves on.
    setStatus(sta, err, driverValue(userIbcntl));
}

// The cached entry of a layer function, resolved on its first successful call.
template <typename Fn>
Fn entry(GpibEntryId id)
{
    std::atomic<void*>& slot = entryCache[static_cast<std::size_t>(id)];
    void* address = slot.load();
    if (!address) {
        address = ResolveGpibEntry(EntryNames[static_cast<std::size_t>(id)]);
        if (address)
            slot.store(address);
    }
    return reinterpret_cast<Fn>(address);
}

} // namespace

void* ResolveGpibEntry(const char* name)
{
    if (!name) {
        setFailure(EINVAL);
        return nullptr;
    }
    if (!gpibLibrary.load() && !loadLibrary()) {
        setFailure(gpib_driver::lastError());
        return nullptr;
    }
    ++entryLookups;
    void* address = gpib_driver::find(gpibLibrary.load(), name);
    if (!address)
        setFailure(gpib_driver::lastError());
    return address;
}

// The 84 layer functions. Each passes its arguments on unchanged; on a missing
// entry it returns its group's failure value with the status set by the resolution.
#define VOLTDESK_GPIB_DEFINE_STATUS(name, params, args)         \
    int name params                                             \
    {                                                           \
        auto entryFn_ = entry<int(*) params>(GpibEntryId::name);\
        if (!entryFn_)                                          \
            return gpib::StatusError;                           \
        const int entryResult_ = entryFn_ args;                 \
        copyStatus();                                           \
        return entryResult_;                                    \
    }
#define VOLTDESK_GPIB_DEFINE_DESCRIPTOR(name, params, args)     \
    int name params                                             \
    {                                                           \
        auto entryFn_ = entry<int(*) params>(GpibEntryId::name);\
        if (!entryFn_)                                          \
            return gpib::NoDescriptor;                          \
        const int entryResult_ = entryFn_ args;                 \
        copyStatus();                                           \
        return entryResult_;                                    \
    }
#define VOLTDESK_GPIB_DEFINE_ROUTINE(name, params, args)        \
    void name params                                            \
    {                                                           \
        auto entryFn_ = entry<void(*) params>(GpibEntryId::name);\
        if (!entryFn_)                                          \
            return;                                             \
        entryFn_ args;                                          \
        copyStatus();                                           \
    }
#define VOLTDESK_GPIB_DEFINE_THREAD(name, params, args)         \
    int name params                                             \
    {                                                           \
        auto entryFn_ = entry<int(*) params>(GpibEntryId::name);\
        return entryFn_ ? entryFn_ args : gpib::NoThreadStatus; \
    }

VOLTDESK_GPIB_STATUS_ENTRIES(VOLTDESK_GPIB_DEFINE_STATUS)
VOLTDESK_GPIB_DESCRIPTOR_ENTRIES(VOLTDESK_GPIB_DEFINE_DESCRIPTOR)
VOLTDESK_GPIB_ROUTINE_ENTRIES(VOLTDESK_GPIB_DEFINE_ROUTINE)
VOLTDESK_GPIB_THREAD_ENTRIES(VOLTDESK_GPIB_DEFINE_THREAD)

namespace gpib_testing {

void ResetLayer()
{
    gpibLibrary = nullptr;
    userIbsta = nullptr;
    userIberr = nullptr;
    userIbcntl = nullptr;
    for (auto& slot : entryCache)
        slot = nullptr;
    entryLookups = 0;
    setStatus(0, 0, 0);
}

int EntryLookups() { return entryLookups.load(); }

} // namespace gpib_testing
