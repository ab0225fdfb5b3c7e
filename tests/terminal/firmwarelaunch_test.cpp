// "Firmware Update...": the firmware type, the flasher's command line and arguments,
// and the button in the window with the file dialog and the process start replaced.
#include "terminal/firmwarelaunch.h"
#include "terminal/globals.h"
#include "terminal/main.h"

#include "platform/process.h"
#include "platform/ui.h"
#include "tests/support/fakeclock.h"
#include "tests/support/simport.h"
#include "tests/support/windowinput.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>

extern char** environ;

using terminal::FirmwareTypeOf;
using terminal::FlasherArguments;
using terminal::FlasherCommandLine;
using terminal::FlasherRequest;
using Args = std::vector<std::string>;

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

TEST(FirmwareTypeOf, IsTheFileNameUpToItsFirstUnderscore)
{
    const std::pair<QString, QString> cases[] = {
        {"/home/me/fw/QX20AF_0123.hex", "QX20AF"},
        {"QX20A2_v2_b.hex", "QX20A2"},
        {"/home/me/fw/WPN707_1.hex", "WPN707"},
        {"/home/me/fw/QX20AF.hex", "QX20AF.hex"},
        {"/home/me/fw/_QX20AF.hex", ""},
        {"/home/me/QX20AF_fw/plain.hex", "plain.hex"},
        // Backslash and colon are characters of a file name here, not separators.
        {"/fw/QX20AF_v1:2.hex", "QX20AF"},
        {"/fw/QX20AF_v1\\2.hex", "QX20AF"},
        {"/fw/old:QX20A2_1.hex", "old:QX20A2"},
        {"/fw/qx20af_x.hex", "qx20af"},
        {"/Prüfstand/Grün_€.hex", "Grün"},
        {"/fw/QX20AF_" + QString(300, 'x') + ".hex", "QX20AF"},
        {"/fw/" + QString(300, 'y'), QString(300, 'y')},
        {"/fw/", ""},
        {"", ""},
    };
    for (const auto& [path, type] : cases)
        EXPECT_EQ(FirmwareTypeOf(path), type) << path.toStdString();
}

struct LineCase {
    FlasherRequest request;
    const char* line;
};

TEST(FlasherCommandLine, CarriesTheTargetOptionTheFileNameCallsFor)
{
    const LineCase cases[] = {
        {{3, "/fw/QX20AF_x.hex", true, false}, "Burnport.exe --com 3 --file \"/fw/QX20AF_x.hex\" --fast --fpga"},
        {{1, "/fw/WPN707_x.hex", false, true}, "Burnport.exe --com 1 --file \"/fw/WPN707_x.hex\" --fast --can 2 --retry"},
        {{1, "/fw/WPN707_x.hex", true, false}, "Burnport.exe --com 1 --file \"/fw/WPN707_x.hex\" --fast --can 1"},
        {{12, "/fw/QX20A2_x.hex", true, false}, "Burnport.exe --com 12 --file \"/fw/QX20A2_x.hex\" --fast --can"},
        {{1, "/fw/QX20AF_x.hex", false, true}, "Burnport.exe --com 1 --file \"/fw/QX20AF_x.hex\" --fast --fpga --retry"},
        {{1, "/fw/qx20af_x.hex", true, false}, "Burnport.exe --com 1 --file \"/fw/qx20af_x.hex\" --fast"},
        {{1, "/fw/QX20AF.hex", true, true}, "Burnport.exe --com 1 --file \"/fw/QX20AF.hex\" --fast --retry"},
        {{1, "/fw/QX20AF_dir/plain.hex", true, false}, "Burnport.exe --com 1 --file \"/fw/QX20AF_dir/plain.hex\" --fast"},
        {{-4, "/fw/WPN7070_x.hex", true, false}, "Burnport.exe --com -4 --file \"/fw/WPN7070_x.hex\" --fast"},
        // Retry after a bare --can would be read as the CAN address: it goes before.
        {{1, "/fw/QX20A2_x.hex", true, true}, "Burnport.exe --com 1 --file \"/fw/QX20A2_x.hex\" --fast --retry --can"},
        {{1, "/fw/QX20A2_x.hex", false, true}, "Burnport.exe --com 1 --file \"/fw/QX20A2_x.hex\" --fast --retry --can"},
    };
    for (const LineCase& c : cases)
        EXPECT_EQ(FlasherCommandLine(c.request), QString::fromUtf8(c.line)) << c.line;
}

TEST(FlasherArguments, TheFlasherGetsEveryPathWhole)
{
    const QString paths[] = {
        "/fw/QX20AF_a b.hex",
        "/fw/QX20AF_$(touch x) `touch y` $HOME;|&<>*?.hex",
        "/fw/QX20AF_it's 100% %1 %s.hex",
        "/fw/QX20AF_line\nbreak\ttab  two.hex",
        "/Prüfstand ünï/QX20AF_€.hex",
        "/fw/QX20AF_a\\b\\\\c.hex",
        "/fw_1/" + QString(150, 'd') + "/QX20AF_" + QString(150, 'e') + ".hex",
        // The quoting of the line cannot carry these two.
        "/fw/QX20AF_\"; touch z; \".hex",
        "/fw/QX20AF_x\\",
    };
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        const FlasherRequest request{3, path, true, false};
        EXPECT_EQ(FlasherArguments(request),
                  (Args{"Burnport.exe", "--com", "3", "--file", path.toStdString(), "--fast", "--fpga"}));
    }
    // The two that the quoting cannot carry would otherwise arrive changed.
    for (const QString& path : {paths[7], paths[8]}) {
        const FlasherRequest request{3, path, true, false};
        EXPECT_NE(platform::process::splitCommandLine(FlasherCommandLine(request).toStdString()),
                  FlasherArguments(request));
    }
    EXPECT_EQ(FlasherArguments({7, "/fw/QX20A2_\".hex", false, true}),
              (Args{"Burnport.exe", "--com", "7", "--file", "/fw/QX20A2_\".hex", "--fast", "--retry", "--can"}));
    EXPECT_EQ(FlasherArguments({7, "/fw/WPN707_\".hex", false, true}),
              (Args{"Burnport.exe", "--com", "7", "--file", "/fw/WPN707_\".hex", "--fast", "--can", "2", "--retry"}));
}

// The button in the window; the dialog answers from `chosen`, the start is recorded.
struct FirmwareUpdateButton : ::testing::Test {
    testsupport::SimPort port{9};
    std::unique_ptr<TfrmMain> w;
    QString chosen;
    std::vector<platform::ui::OpenFileRequest> dialogs;
    std::vector<Args> starts;
    bool startSucceeds = true;
    bool portFreeAtStart = false;
    std::vector<QString> messages;

    void SetUp() override
    {
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler([this](const QString& t) { messages.push_back(t); });
        platform::ui::setFileDialogHandler([this](QWidget*, const platform::ui::OpenFileRequest& r) {
            dialogs.push_back(r);
            return chosen;
        });
        platform::process::setStartHandler([this](const Args& args) {
            starts.push_back(args);
            bool opened = false;
            CRS232 probe(9, 9600, opened);
            portFreeAtStart = opened;
            return startSucceeds;
        });
    }

    void TearDown() override
    {
        w.reset();
        ResetMainUnitGlobals();
        platform::ui::setMessageHandler({});
        platform::ui::setFileDialogHandler({});
        platform::process::setStartHandler({});
    }

    TfrmMain& open(QStringList args = {"voltdesk"})
    {
        w = std::make_unique<TfrmMain>(args);
        EXPECT_TRUE(testsupport::showActive(*w));
        return *w;
    }

    // The port as a click may find it: held by Voltdesk without a link set up.
    void holdPort()
    {
        bool opened = false;
        ActiveLink.setPort(std::make_unique<CRS232>(9, 9600, opened));
        ASSERT_TRUE(opened);
    }

    void clickUpdate() { testsupport::click(w->btnUpdate); }
};

TEST_F(FirmwareUpdateButton, CancellingTheDialogChangesNothing)
{
    auto& f = open();
    holdPort();
    chosen.clear();
    clickUpdate();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].title, "Select Firmware file");
    EXPECT_EQ(dialogs[0].folder, ".");
    EXPECT_EQ(dialogs[0].filter, "Firmware files (*.hex);;All files (*)");
    EXPECT_EQ(f.FileOpenDlg.filter, "Firmware files (*.hex)|*.hex|All files (*.*)|*.*");
    EXPECT_EQ(FirmwareFolder, ".");
    ASSERT_TRUE(ActiveLink.port());
    EXPECT_TRUE(ActiveLink.port()->IsOpen());
    EXPECT_TRUE(starts.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(FirmwareUpdateButton, AChosenFileFreesThePortAndStartsTheFlasher)
{
    auto& f = open();
    holdPort();
    f.txtComPort->setEditText("3");
    chosen = "/home/me/fw_1/QX20AF_0123.hex";
    clickUpdate();
    EXPECT_FALSE(ActiveLink.port());
    EXPECT_EQ(FirmwareFolder, "/home/me/fw_1/QX20AF_0123.hex");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], (Args{"Burnport.exe", "--com", "3", "--file", "/home/me/fw_1/QX20AF_0123.hex", "--fast",
                               "--fpga"}));
    EXPECT_TRUE(portFreeAtStart);
    EXPECT_TRUE(messages.empty());
    // Started without a terminal program: there is nothing to watch.
    EXPECT_EQ(f.findChild<terminal::FlasherTerminalWatch*>(), nullptr);

    // The next dialog starts at the file chosen last; the controls of the group count.
    f.cbFilament->setCurrentIndex(1);
    f.cbRetry->setChecked(true);
    chosen = "/home/me/WPN707_x.hex";
    clickUpdate();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].folder, "/home/me/fw_1/QX20AF_0123.hex");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1], (Args{"Burnport.exe", "--com", "3", "--file", "/home/me/WPN707_x.hex", "--fast", "--can",
                               "2", "--retry"}));
}

TEST_F(FirmwareUpdateButton, AFailedStartShowsTheMessage)
{
    auto& f = open();
    f.txtComPort->setEditText("3");
    chosen = "/fw/QX20AF_1.hex";
    startSucceeds = false;
    clickUpdate();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(messages, std::vector<QString>{"Error running Burnport.exe (EXE file not found)!"});
}

TEST_F(FirmwareUpdateButton, ANonNumericPortIsReportedAfterThePortIsReleased)
{
    auto& f = open();
    holdPort();
    f.txtComPort->setEditText("COM3");
    chosen = "/fw/QX20AF_1.hex";
    clickUpdate();
    EXPECT_EQ(messages, std::vector<QString>{"'COM3' is not a valid integer value"});
    EXPECT_TRUE(starts.empty());
    EXPECT_EQ(FirmwareFolder, "/fw/QX20AF_1.hex");
    EXPECT_FALSE(ActiveLink.port());
}

TEST_F(FirmwareUpdateButton, FactoryModeStartsAtTheProductionFolder)
{
    open({"voltdesk", "mrtq"});
    chosen.clear();
    clickUpdate();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].folder, "I:\\PRODDATA\\TOOLS\\Voltdesk\\hex");
}

TEST_F(FirmwareUpdateButton, BothChoosersOfferTheLastNameEachWithItsOwnFilterAndTitle)
{
    auto& f = open();
    // A name typed without an extension is the script's name with ".txt".
    chosen = "idn";
    testsupport::click(f.btnFileOpen);
    const QString script = QDir::current().absoluteFilePath("idn.txt");
    EXPECT_EQ(f.txtFilename->text(), script);

    chosen = "/fw/QX20AF_1.hex";
    clickUpdate();
    chosen.clear();
    testsupport::click(f.btnFileOpen);
    clickUpdate();

    ASSERT_EQ(dialogs.size(), 4u);
    const std::pair<QString, QString> firmware{"Select Firmware file", "Firmware files (*.hex);;All files (*)"};
    const std::pair<QString, QString> scripts{"Skript laden", "Skript-Dateien (*.txt);;Alle Dateien (*)"};
    const std::pair<QString, QString> expected[] = {scripts, firmware, scripts, firmware};
    const QString offered[] = {"", script, "/fw/QX20AF_1.hex", "/fw/QX20AF_1.hex"};
    const QString folders[] = {".", ".", script, "/fw/QX20AF_1.hex"};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dialogs[i].title, expected[i].first);
        EXPECT_EQ(dialogs[i].filter, expected[i].second);
        EXPECT_EQ(dialogs[i].fileName, offered[i]);
        EXPECT_EQ(dialogs[i].folder, folders[i]);
        EXPECT_EQ(dialogs[i].defaultExtension, "txt");
    }
}

TEST_F(FirmwareUpdateButton, ATerminalProgramStillRunningAfterOneSecondHasStartedTheFlasher)
{
    auto& f = open();
    struct LookedAt : testsupport::FakeClock {
        std::atomic<int> reads{0};
        std::uint32_t tickMs() override { return ++reads, FakeClock::tickMs(); }
    } clock;
    platform::ScopedClock scoped(clock);
    const char* argv[] = {"/bin/sh", "-c", "exec sleep 600", nullptr};
    pid_t terminal = 0;
    ASSERT_EQ(::posix_spawn(&terminal, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    QPointer<terminal::FlasherTerminalWatch> watch =
        new terminal::FlasherTerminalWatch({true, terminal, "/usr/bin/xterm"}, &f);

    clock.advance(999);
    // Two looks at 999 ms: a watch done at the first would not look again.
    const int reads = clock.reads;
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.reads >= reads + 2; }, 30000));
    EXPECT_FALSE(watch.isNull());
    clock.advance(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.isNull(); }, 30000));
    EXPECT_TRUE(messages.empty());
    ::kill(terminal, SIGKILL);
}

TEST(QtNameFilter, KeepsEveryPairAndMatchesAllNamesForStarDotStar)
{
    using platform::ui::qtNameFilter;
    EXPECT_EQ(qtNameFilter("Firmware files (*.hex)|*.hex|All files (*.*)|*.*"),
              "Firmware files (*.hex);;All files (*)");
    EXPECT_EQ(qtNameFilter("Scripts|*.txt;*.scr"), "Scripts (*.txt *.scr)");
    EXPECT_EQ(qtNameFilter("Odd (x|*.x|Dangling"), "Odd (x (*.x)");
    EXPECT_EQ(qtNameFilter(""), "");
}

} // namespace
