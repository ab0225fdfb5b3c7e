#include "devices/gpib.h"
#include "devices/gpib_testing.h"

#include "tests/support/simport.h"

#include "tests/support/gpibsimlib.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using testsupport::ScopedEnv;
using testsupport::SimLibrary;
using testsupport::TempDir;

namespace {

constexpr const char* LibraryVariable = "VOLTDESK_GPIB_LIBRARY";
constexpr const char* ListenerVariable = "VOLTDESK_GPIB_SIM";
// Status bits and error codes as NI-488.2 publishes them.
constexpr int ERR = 0x8000, TIMO = 0x4000, END = 0x2000, CMPL = 0x0100;
constexpr int EDVR = 0, ENOL = 2, EARG = 4, EABO = 6;

bool isLoaded(const std::string& path)
{
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

class GpibLayer : public ::testing::Test {
protected:
    void SetUp() override { gpib_testing::ResetLayer(); }
    void TearDown() override { gpib_testing::ResetLayer(); }

    void useLibrary(const std::string& path)
    {
        library_.set(path);
    }
    // The full simulated library with these listeners, its record cleared.
    SimLibrary& useSimulation(const std::string& listeners, const std::string& path = GPIBSIM_LIBRARY)
    {
        listeners_.set(listeners);
        useLibrary(path);
        sim_.reset();
        sim_ = std::make_unique<SimLibrary>(path);
        return *sim_;
    }

    void expectLayerFailure()
    {
        EXPECT_EQ(ibsta, ERR);
        EXPECT_EQ(iberr, 0);
        EXPECT_NE(ibcnt, 0) << "the system error code";
        EXPECT_EQ(ibcnt, ibcntl);
    }

    TempDir dir_;
    ScopedEnv library_{LibraryVariable};
    ScopedEnv listeners_{ListenerVariable};
    std::unique_ptr<SimLibrary> sim_;
};

TEST_F(GpibLayer, MissingLibraryGivesEachGroupItsFailureValue)
{
    useLibrary(dir_.file("libgpib-missing.so"));

    EXPECT_EQ(ibdev(0, 17, 0, 10, 1, 0), -1);
    expectLayerFailure();
    EXPECT_EQ(ibcnt, ENOENT);

    ibsta = 0;
    EXPECT_EQ(ibwrt(5, "*IDN?", 5), ERR);
    expectLayerFailure();

    Addr4882_t addrs[] = {5, 17, NOADDR};
    Addr4882_t results[4] = {7, 7, 7, 7};
    FindLstn(0, addrs, results, 30);
    for (Addr4882_t r : results)
        EXPECT_EQ(r, 7) << "nothing written";
    expectLayerFailure();

    EXPECT_EQ(static_cast<unsigned>(ThreadIbsta()), 0xDDDDDEADu);
    EXPECT_EQ(static_cast<unsigned>(ThreadIbcntl()), 0xDDDDDEADu);
    EXPECT_EQ(gpib_testing::EntryLookups(), 0);
}

TEST_F(GpibLayer, FailedLoadIsRetriedOnTheNextCall)
{
    const std::string path = dir_.file("libgpib-later.so");
    SimLibrary& sim = useSimulation("5,17");
    useLibrary(path);

    EXPECT_EQ(ibdev(0, 17, 0, 10, 1, 0), -1);
    EXPECT_EQ(ibonl(1, 0), ERR);
    std::filesystem::create_symlink(GPIBSIM_LIBRARY, path);

    const int ud = ibdev(0, 17, 0, 10, 1, 0);
    EXPECT_GT(ud, 0);
    EXPECT_EQ(ibsta, CMPL);
    EXPECT_EQ(sim.calls(), std::vector<std::string>{"ibdev 0 17 0 10 1 0"});
}

TEST_F(GpibLayer, FileThatIsNoSharedObjectCountsAsMissing)
{
    const std::string path = dir_.file("libgpib.so.0");
    testsupport::writeFile(path, "this is not a library\n");
    useLibrary(path);

    EXPECT_EQ(ibdev(0, 17, 0, 10, 1, 0), -1);
    expectLayerFailure();
    EXPECT_EQ(ibclr(3), ERR);
    expectLayerFailure();
}

TEST_F(GpibLayer, LibraryWithoutAStatusExportIsReleasedAndCountsAsMissing)
{
    const std::string path = GPIBSIM_NO_IBCNTL_LIBRARY;
    ASSERT_FALSE(isLoaded(path));
    useLibrary(path);

    EXPECT_EQ(ibdev(0, 17, 0, 10, 1, 0), -1);
    expectLayerFailure();
    EXPECT_FALSE(isLoaded(path)) << "released again";
    EXPECT_EQ(static_cast<unsigned>(ThreadIbsta()), 0xDDDDDEADu);
    EXPECT_EQ(gpib_testing::EntryLookups(), 0);

    // Not remembered as loaded: a complete library is taken on the next call.
    useSimulation("17");
    EXPECT_GT(ibdev(0, 17, 0, 10, 1, 0), 0);
}

TEST_F(GpibLayer, PlainStatusNamesServeWhereTheUserNamesAreMissing)
{
    useSimulation("17", GPIBSIM_PLAIN_NAMES_LIBRARY);
    const int ud = ibdev(0, 17, 0, 10, 1, 0);
    ASSERT_GT(ud, 0);
    ibwrt(ud, "*IDN?", 5);
    EXPECT_EQ(ibcntl, 5);
    char buf[256] = {};
    ibrd(ud, buf, 256);
    EXPECT_EQ(std::string(buf, ibcntl), "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07\n");
    EXPECT_EQ(ibcntl, 44);
    EXPECT_EQ(ibsta, CMPL | END);
}

TEST_F(GpibLayer, MissingEntryFailsAloneAndResolvedEntriesAreNotLookedUpAgain)
{
    SimLibrary& sim = useSimulation("17", GPIBSIM_NO_IBCLR_LIBRARY);
    const int ud = ibdev(0, 17, 0, 10, 1, 0);
    ASSERT_GT(ud, 0);
    EXPECT_EQ(ibwrt(ud, "*RST", 4), CMPL);
    const int lookups = gpib_testing::EntryLookups();
    EXPECT_EQ(lookups, 2);

    EXPECT_EQ(ibclr(ud), ERR);
    expectLayerFailure();
    EXPECT_EQ(ibclr(ud), ERR);
    EXPECT_EQ(gpib_testing::EntryLookups(), lookups + 2) << "a failed resolution is repeated";

    EXPECT_EQ(ibwrt(ud, "*IDN?", 5), CMPL);
    EXPECT_EQ(ibwrt(ud, "*IDN?", 5), CMPL);
    EXPECT_EQ(ibcntl, 5);
    EXPECT_EQ(gpib_testing::EntryLookups(), lookups + 2) << "ibwrt came from its cache";
    EXPECT_EQ(sim.calls(), (std::vector<std::string>{"ibdev 0 17 0 10 1 0", "ibwrt 32 \"*RST\" 4",
                                                     "ibwrt 32 \"*IDN?\" 5", "ibwrt 32 \"*IDN?\" 5"}));
}

// Every call copies what the driver left, errors included, over the outcome of the
// call before it.
TEST_F(GpibLayer, DriverErrorsAreCopiedUnchanged)
{
    useSimulation("5,17,9:silent");
    EXPECT_EQ(ibdev(0, 31, 0, 10, 1, 0), -1) << "address out of range";
    EXPECT_EQ(ibsta, ERR | CMPL);
    EXPECT_EQ(iberr, EARG);

    const int nobody = ibdev(0, 3, 0, 10, 1, 0);
    ASSERT_GT(nobody, 0);
    EXPECT_EQ(ibwrt(nobody, "*IDN?", 5), ERR | CMPL);
    EXPECT_EQ(iberr, ENOL);
    EXPECT_EQ(ibcnt, 0);
    EXPECT_EQ(ibcntl, 0);

    // A silent listener: the write counts 5, the read times out with nothing.
    const int silent = ibdev(0, 9, 0, 10, 1, 0);
    ASSERT_GT(silent, 0);
    EXPECT_EQ(ibwrt(silent, "*IDN?", 5), CMPL);
    EXPECT_EQ(ibcntl, 5);
    char buf[256];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ibrd(silent, buf, 256), ERR | TIMO | CMPL);
    EXPECT_EQ(ibsta, ERR | TIMO | CMPL);
    EXPECT_EQ(iberr, EABO);
    EXPECT_EQ(ibcntl, 0);
    EXPECT_EQ(ibcnt, 0);
    EXPECT_EQ(buf[0], 'x');

    // Device clear drops the unread answer; an offline descriptor fails with EDVR.
    const int ud = ibdev(0, 17, 0, 10, 1, 0);
    ibwrt(ud, "*IDN?", 5);
    EXPECT_EQ(ibclr(ud), CMPL);
    EXPECT_EQ(ibrd(ud, buf, 256) & TIMO, TIMO);
    EXPECT_EQ(iberr, EABO);
    EXPECT_EQ(ibonl(ud, 0), CMPL);
    EXPECT_EQ(ibwrt(ud, "*IDN?", 5), ERR | CMPL);
    EXPECT_EQ(iberr, EDVR);
}

// The GUI thread and the script worker call the layer at once. The status then
// holds the outcome of one of their calls, and (under ThreadSanitizer) no access
// is a data race; the last call wins.
TEST_F(GpibLayer, TwoThreadsCallingAtOnceLeaveTheStatusOfOneOfTheirCalls)
{
    useSimulation("5,17");
    const int first = ibdev(0, 5, 0, 10, 1, 0);
    const int second = ibdev(0, 17, 0, 10, 1, 0);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);

    std::atomic<int> strange{0};
    auto caller = [&](int ud, const char* command, long count) {
        for (int i = 0; i < 2000; ++i) {
            if (ibwrt(ud, command, count) & ERR)
                ++strange;
            // Each variable read once: the other thread may change it between reads.
            const int status = ibsta;
            const int error = iberr;
            const int count = ibcnt;
            const std::int32_t countl = ibcntl;
            if ((status & ERR) || error != 0 || (count != 4 && count != 6) || (countl != 4 && countl != 6))
                ++strange;
        }
    };
    std::thread gui(caller, first, "*CLS", 4);
    std::thread worker(caller, second, "VOLT 1", 6);
    gui.join();
    worker.join();
    EXPECT_EQ(strange, 0);

    EXPECT_EQ(ibwrt(first, "VOLT?", 5), CMPL);
    EXPECT_EQ(ibsta, CMPL);
    EXPECT_EQ(ibcnt, 5);
    EXPECT_EQ(ibcntl, 5);
}

TEST_F(GpibLayer, ScanOfListenersAt5And17)
{
    SimLibrary& sim = useSimulation("17,5");
    std::vector<std::string> expected{"SendIFC 0"};

    SendIFC(0);
    EXPECT_EQ(ibsta, CMPL);
    Addr4882_t addrs[32] = {};
    Addr4882_t results[32] = {};
    std::string asked;
    for (int a = 1; a <= 30; ++a) {
        addrs[a - 1] = static_cast<Addr4882_t>(a);
        asked += a > 1 ? "," : "";
        asked += std::to_string(a);
    }
    addrs[30] = NOADDR;
    FindLstn(0, addrs, results, 30);
    expected.push_back("FindLstn 0 " + asked + " 30");
    EXPECT_EQ(ibcnt, 2);
    EXPECT_EQ(ibcntl, 2);

    std::vector<int> found;
    for (int i = 0; i < 32 && results[i] > 0; ++i)
        found.push_back(results[i]);
    ASSERT_EQ(found, (std::vector<int>{5, 17}));

    const std::string id = "HVSIM,HV-4000 Test Module,SN 000042,FW 1.07\n";
    for (int address : found) {
        const int ud = ibdev(0, address, 0, 10, 1, 0);
        ibwrt(ud, "*IDN?", 5);
        char buf[256] = {};
        ibrd(ud, buf, 255);
        EXPECT_EQ(ibcntl, 44);
        EXPECT_EQ(ibcnt, ibcntl);
        EXPECT_EQ(std::string(buf, ibcntl), id);
        EXPECT_EQ(ibonl(ud, 0), CMPL);
        const std::string u = std::to_string(ud);
        expected.insert(expected.end(), {"ibdev 0 " + std::to_string(address) + " 0 10 1 0",
                                         "ibwrt " + u + " \"*IDN?\" 5", "ibrd " + u + " 255", "ibonl " + u + " 0"});
    }
    EXPECT_EQ(sim.calls(), expected);
}

TEST_F(GpibLayer, ReadFillsTheBufferExactlyAndNoFurther)
{
    constexpr int BufferSize = 256;
    constexpr int Guard = 16;
    useSimulation("17");
    const int ud = ibdev(0, 17, 0, 10, 1, 0);

    auto readInto = [&](unsigned char (&buf)[BufferSize + Guard]) {
        std::memset(buf, 0xEE, sizeof buf);
        return ibrd(ud, buf, BufferSize);
    };
    unsigned char buf[BufferSize + Guard];

    // An answer of exactly 256 bytes, its line feed included.
    const std::string value(BufferSize - 1, 'A');
    ibwrt(ud, ("VOLT " + value).c_str(), static_cast<long>(value.size() + 5));
    ibwrt(ud, "VOLT?", 5);
    EXPECT_EQ(readInto(buf), CMPL | END);
    EXPECT_EQ(ibcntl, BufferSize);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), BufferSize), value + "\n");
    for (int i = BufferSize; i < BufferSize + Guard; ++i)
        EXPECT_EQ(buf[i], 0xEE) << "byte " << i;

    // A longer answer comes in two reads.
    const std::string longer(299, 'B');
    ibwrt(ud, ("VOLT " + longer).c_str(), static_cast<long>(longer.size() + 5));
    ibwrt(ud, "VOLT?", 5);
    EXPECT_EQ(readInto(buf), CMPL) << "no END yet";
    EXPECT_EQ(ibcntl, BufferSize);
    EXPECT_EQ(buf[BufferSize], 0xEE);
    EXPECT_EQ(readInto(buf), CMPL | END);
    EXPECT_EQ(ibcntl, 300 - BufferSize);
}

template <typename R, typename... A>
void callWithZeros(R (*fn)(A...))
{
    fn(A{}...);
}

TEST_F(GpibLayer, EveryFunctionCallsTheEntryOfItsOwnName)
{
    SimLibrary& sim = useSimulation("");
#define CALL_WITH_ZEROS(name, params, args) callWithZeros(&name);
    VOLTDESK_GPIB_ALL_ENTRIES(CALL_WITH_ZEROS)
#undef CALL_WITH_ZEROS
    const char* names =
        "ibask ibbnaA ibbnaW ibcac ibclr ibcmd ibcmda ibconfig ibdiag ibdma ibeos ibeot ibeventx ibgts "
        "ibist iblines ibln ibloc ibnotify ibonl ibpad ibpct ibpoke ibppc ibrd ibrda ibrdfA ibrdfW ibrpp "
        "ibrsc ibrsp ibrsv ibsad ibsic ibsre ibstop ibtmo ibtrg ibwait ibwrt ibwrta ibwrtfA ibwrtfW "
        "iblockxA iblockxW ibunlockx iblock ibunlock "
        "ibdev ibfindA ibfindW "
        "AllSpoll DevClear DevClearList EnableLocal EnableRemote FindLstn FindRQS PPoll PPollConfig "
        "PPollUnconfig PassControl RcvRespMsg ReadStatusByte Receive ReceiveSetup ResetSys Send SendCmds "
        "SendDataBytes SendIFC SendLLO SendList SendSetup SetRWLS TestSRQ TestSys Trigger TriggerList WaitSRQ "
        "ThreadIbsta ThreadIberr ThreadIbcnt ThreadIbcntl";
    std::vector<std::string> expected;
    std::istringstream in(names);
    for (std::string n; in >> n;)
        expected.push_back(n);
    std::vector<std::string> called;
    for (const std::string& line : sim.calls())
        called.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(called, expected);
}

TEST_F(GpibLayer, PerThreadFunctionsLeaveTheStatusAlone)
{
    useSimulation("17");
    EXPECT_EQ(ibwrt(77, "x", 1), ERR | CMPL) << "no such descriptor";
    ibsta = 1;
    iberr = 2;
    ibcnt = 3;
    ibcntl = 4;
    EXPECT_EQ(ThreadIbsta(), ERR | CMPL);
    EXPECT_EQ(ThreadIberr(), EDVR);
    EXPECT_EQ(ThreadIbcntl(), 0);
    EXPECT_EQ(ibsta, 1);
    EXPECT_EQ(iberr, 2);
    EXPECT_EQ(ibcnt, 3);
    EXPECT_EQ(ibcntl, 4);
}

} // namespace
