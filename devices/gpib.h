#pragma once
// The NI-488.2 programming interface, bound at run time. The driver library is
// loaded on the first call of any function below; without it every function
// fails with its group's failure value, so the program runs without GPIB.
#include "gpib_entries.h"

#include <atomic>
#include <cstdint>

// Outcome of the most recent call of any thread (the per-thread functions
// excepted). Bit gpib::StatusError of ibsta marks an error; ibcnt == ibcntl.
// The GUI thread and the script worker both call the layer, so each variable is
// atomic; it reads as a plain number (`ibsta & 0x8000`, `ibcntl`). Each is set on
// its own: while two threads call at once, the four may come from different calls.
extern std::atomic<int> ibsta;
extern std::atomic<int> iberr;
extern std::atomic<int> ibcnt;
extern std::atomic<std::int32_t> ibcntl;

// The address of the named entry of the driver library, loading the library
// first if needed; nullptr (with the status set to the failure) when either fails.
void* ResolveGpibEntry(const char* name);

#define VOLTDESK_GPIB_DECLARE_INT(name, params, args) int name params;
#define VOLTDESK_GPIB_DECLARE_VOID(name, params, args) void name params;
VOLTDESK_GPIB_STATUS_ENTRIES(VOLTDESK_GPIB_DECLARE_INT)
VOLTDESK_GPIB_DESCRIPTOR_ENTRIES(VOLTDESK_GPIB_DECLARE_INT)
VOLTDESK_GPIB_ROUTINE_ENTRIES(VOLTDESK_GPIB_DECLARE_VOID)
VOLTDESK_GPIB_THREAD_ENTRIES(VOLTDESK_GPIB_DECLARE_INT)
#undef VOLTDESK_GPIB_DECLARE_INT
#undef VOLTDESK_GPIB_DECLARE_VOID

namespace gpib {
// What the descriptor functions return when they fail.
inline constexpr int NoDescriptor = -1;
// What the per-thread status functions return when their entry is missing.
inline constexpr int NoThreadStatus = static_cast<int>(0xDDDDDEADu);
} // namespace gpib
