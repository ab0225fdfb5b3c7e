#pragma once
// The NI-488.2 entry points as one table: name, parameter list, argument list.
// The call layer and the simulated driver library both expand it, so every
// entry name and signature is written down once. No function is declared here.
#include <cstdint>
#include <cwchar>

// A 16-bit bus address as the 488.2 routines take it. Callers read the lists
// signed: NOADDR (0xFFFF) ends an address list and reads as -1.
using Addr4882_t = std::int16_t;
inline constexpr Addr4882_t NOADDR = -1;

// Callback of ibnotify: descriptor, status word, error, byte count, reference data.
using GpibNotifyCallback_t = int (*)(int, int, int, long, void*);

// Status-word functions: return the driver's status word.
#define VOLTDESK_GPIB_STATUS_ENTRIES(X)                                         \
    X(ibask, (int ud, int option, int* v), (ud, option, v))                     \
    X(ibbnaA, (int ud, const char* udname), (ud, udname))                       \
    X(ibbnaW, (int ud, const wchar_t* udname), (ud, udname))                    \
    X(ibcac, (int ud, int v), (ud, v))                                          \
    X(ibclr, (int ud), (ud))                                                    \
    X(ibcmd, (int ud, const void* buf, long cnt), (ud, buf, cnt))               \
    X(ibcmda, (int ud, const void* buf, long cnt), (ud, buf, cnt))              \
    X(ibconfig, (int ud, int option, int v), (ud, option, v))                   \
    X(ibdiag, (int ud, void* buf, long cnt), (ud, buf, cnt))                    \
    X(ibdma, (int ud, int v), (ud, v))                                          \
    X(ibeos, (int ud, int v), (ud, v))                                          \
    X(ibeot, (int ud, int v), (ud, v))                                          \
    X(ibeventx, (int ud, short* event), (ud, event))                            \
    X(ibgts, (int ud, int v), (ud, v))                                          \
    X(ibist, (int ud, int v), (ud, v))                                          \
    X(iblines, (int ud, short* result), (ud, result))                           \
    X(ibln, (int ud, int pad, int sad, short* listen), (ud, pad, sad, listen))  \
    X(ibloc, (int ud), (ud))                                                    \
    X(ibnotify, (int ud, int mask, GpibNotifyCallback_t callback, void* refData), \
      (ud, mask, callback, refData))                                            \
    X(ibonl, (int ud, int v), (ud, v))                                          \
    X(ibpad, (int ud, int v), (ud, v))                                          \
    X(ibpct, (int ud), (ud))                                                    \
    X(ibpoke, (int ud, long option, long v), (ud, option, v))                   \
    X(ibppc, (int ud, int v), (ud, v))                                          \
    X(ibrd, (int ud, void* buf, long cnt), (ud, buf, cnt))                      \
    X(ibrda, (int ud, void* buf, long cnt), (ud, buf, cnt))                     \
    X(ibrdfA, (int ud, const char* filename), (ud, filename))                   \
    X(ibrdfW, (int ud, const wchar_t* filename), (ud, filename))                \
    X(ibrpp, (int ud, char* ppr), (ud, ppr))                                    \
    X(ibrsc, (int ud, int v), (ud, v))                                          \
    X(ibrsp, (int ud, char* spr), (ud, spr))                                    \
    X(ibrsv, (int ud, int v), (ud, v))                                          \
    X(ibsad, (int ud, int v), (ud, v))                                          \
    X(ibsic, (int ud), (ud))                                                    \
    X(ibsre, (int ud, int v), (ud, v))                                          \
    X(ibstop, (int ud), (ud))                                                   \
    X(ibtmo, (int ud, int v), (ud, v))                                          \
    X(ibtrg, (int ud), (ud))                                                    \
    X(ibwait, (int ud, int mask), (ud, mask))                                   \
    X(ibwrt, (int ud, const void* buf, long cnt), (ud, buf, cnt))               \
    X(ibwrta, (int ud, const void* buf, long cnt), (ud, buf, cnt))              \
    X(ibwrtfA, (int ud, const char* filename), (ud, filename))                  \
    X(ibwrtfW, (int ud, const wchar_t* filename), (ud, filename))               \
    X(iblockxA, (int ud, int lockWaitTime, const char* sharedLockName),         \
      (ud, lockWaitTime, sharedLockName))                                       \
    X(iblockxW, (int ud, int lockWaitTime, const wchar_t* sharedLockName),      \
      (ud, lockWaitTime, sharedLockName))                                       \
    X(ibunlockx, (int ud), (ud))                                                \
    X(iblock, (int ud), (ud))                                                   \
    X(ibunlock, (int ud), (ud))

// Descriptor functions: return a descriptor, or -1.
#define VOLTDESK_GPIB_DESCRIPTOR_ENTRIES(X)                                     \
    X(ibdev, (int boardId, int pad, int sad, int tmo, int eot, int eos),        \
      (boardId, pad, sad, tmo, eot, eos))                                       \
    X(ibfindA, (const char* udname), (udname))                                  \
    X(ibfindW, (const wchar_t* udname), (udname))

// 488.2 routines: return nothing.
#define VOLTDESK_GPIB_ROUTINE_ENTRIES(X)                                                        \
    X(AllSpoll, (int boardId, const Addr4882_t* addrs, short* results), (boardId, addrs, results)) \
    X(DevClear, (int boardId, Addr4882_t addr), (boardId, addr))                                \
    X(DevClearList, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                   \
    X(EnableLocal, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                    \
    X(EnableRemote, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                   \
    X(FindLstn, (int boardId, const Addr4882_t* addrs, Addr4882_t* results, int limit),         \
      (boardId, addrs, results, limit))                                                         \
    X(FindRQS, (int boardId, const Addr4882_t* addrs, short* devStat), (boardId, addrs, devStat)) \
    X(PPoll, (int boardId, short* result), (boardId, result))                                   \
    X(PPollConfig, (int boardId, Addr4882_t addr, int dataLine, int lineSense),                 \
      (boardId, addr, dataLine, lineSense))                                                     \
    X(PPollUnconfig, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                  \
    X(PassControl, (int boardId, Addr4882_t addr), (boardId, addr))                             \
    X(RcvRespMsg, (int boardId, void* buffer, long cnt, int termination),                       \
      (boardId, buffer, cnt, termination))                                                      \
    X(ReadStatusByte, (int boardId, Addr4882_t addr, short* result), (boardId, addr, result))   \
    X(Receive, (int boardId, Addr4882_t addr, void* buffer, long cnt, int termination),         \
      (boardId, addr, buffer, cnt, termination))                                                \
    X(ReceiveSetup, (int boardId, Addr4882_t addr), (boardId, addr))                            \
    X(ResetSys, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                       \
    X(Send, (int boardId, Addr4882_t addr, const void* buffer, long cnt, int eotMode),          \
      (boardId, addr, buffer, cnt, eotMode))                                                    \
    X(SendCmds, (int boardId, const void* buffer, long cnt), (boardId, buffer, cnt))            \
    X(SendDataBytes, (int boardId, const void* buffer, long cnt, int eotMode),                  \
      (boardId, buffer, cnt, eotMode))                                                          \
    X(SendIFC, (int boardId), (boardId))                                                        \
    X(SendLLO, (int boardId), (boardId))                                                        \
    X(SendList, (int boardId, const Addr4882_t* addrs, const void* buffer, long cnt, int eotMode), \
      (boardId, addrs, buffer, cnt, eotMode))                                                   \
    X(SendSetup, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                      \
    X(SetRWLS, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                        \
    X(TestSRQ, (int boardId, short* result), (boardId, result))                                 \
    X(TestSys, (int boardId, const Addr4882_t* addrs, short* results), (boardId, addrs, results)) \
    X(Trigger, (int boardId, Addr4882_t addr), (boardId, addr))                                 \
    X(TriggerList, (int boardId, const Addr4882_t* addrs), (boardId, addrs))                    \
    X(WaitSRQ, (int boardId, short* result), (boardId, result))

// Per-thread status functions: no arguments, no status copy.
#define VOLTDESK_GPIB_THREAD_ENTRIES(X) \
    X(ThreadIbsta, (), ())              \
    X(ThreadIberr, (), ())              \
    X(ThreadIbcnt, (), ())              \
    X(ThreadIbcntl, (), ())

#define VOLTDESK_GPIB_ALL_ENTRIES(X)       \
    VOLTDESK_GPIB_STATUS_ENTRIES(X)        \
    VOLTDESK_GPIB_DESCRIPTOR_ENTRIES(X)    \
    VOLTDESK_GPIB_ROUTINE_ENTRIES(X)       \
    VOLTDESK_GPIB_THREAD_ENTRIES(X)

// One index per entry, in table order.
enum class GpibEntryId : int {
#define VOLTDESK_GPIB_ENTRY_ID(name, params, args) name,
    VOLTDESK_GPIB_ALL_ENTRIES(VOLTDESK_GPIB_ENTRY_ID)
#undef VOLTDESK_GPIB_ENTRY_ID
    Count
};

inline constexpr int GpibEntryCount = static_cast<int>(GpibEntryId::Count);
static_assert(GpibEntryCount == 84, "the NI-488.2 layer has 84 entries");

// Status word bits and error codes with the published NI-488.2 values.
namespace gpib {
inline constexpr int StatusError = 0x8000;   // ERR
inline constexpr int StatusTimeout = 0x4000; // TIMO
inline constexpr int StatusEnd = 0x2000;     // END
inline constexpr int StatusComplete = 0x0100; // CMPL

inline constexpr int ErrDriver = 0;        // EDVR
inline constexpr int ErrNoListener = 2;    // ENOL
inline constexpr int ErrArgument = 4;      // EARG
inline constexpr int ErrAborted = 6;       // EABO (also the timeout of a read)
inline constexpr int ErrNoBoard = 7;       // ENEB
inline constexpr int ErrCapability = 11;   // ECAP
inline constexpr int ErrTable = 20;        // ETAB

inline constexpr int OptionEot = 0x04;     // IbcEOT
inline constexpr int OptionUnAddr = 0x1B;  // IbcUnAddr
} // namespace gpib
