// Voltdesk's main window with "Firmware Update..." clicked, the file dialog answering
// with FILE; copied next to a stand-in flasher by the flasher start tests. Message
// boxes are printed as "message: TEXT". It ends once a terminal program that runs
// the flasher has ended; the watch's clock stands still, so that only how the
// terminal program ended decides what the watch makes of it, however slow the machine.
// usage: launch_probe FILE COM-TEXT [retry] [filament2]
#include "terminal/main.h"

#include "platform/clock.h"
#include "platform/ui.h"
#include "terminal/firmwarelaunch.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

struct FrozenClock : platform::Clock {
    void sleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    void yield() override { std::this_thread::yield(); }
    std::uint32_t tickMs() override { return 0; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    bool retry = false;
    bool filamentTwo = false;
    for (int i = 3; i < argc; ++i) {
        retry |= std::strcmp(argv[i], "retry") == 0;
        filamentTwo |= std::strcmp(argv[i], "filament2") == 0;
    }
    const QString file = QFile::decodeName(argv[1]);
    const QString com = QString::fromLocal8Bit(argv[2]);

    FrozenClock frozen;
    platform::ScopedClock clock(frozen);
    int appArgc = 1;
    platform::ui::Application app(appArgc, argv);
    platform::ui::setFileDialogHandler([&](QWidget*, const platform::ui::OpenFileRequest&) { return file; });
    platform::ui::setMessageHandler([](const QString& text) {
        std::printf("message: %s\n", text.toLocal8Bit().constData());
    });

    TfrmMain w({QStringLiteral("voltdesk")});
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 3;
    w.txtComPort->setEditText(com);
    w.cbRetry->setChecked(retry);
    w.cbFilament->setCurrentIndex(filamentTwo ? 1 : 0);
    QTest::mouseClick(w.btnUpdate, Qt::LeftButton);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (w.findChild<terminal::FlasherTerminalWatch*>()) {
        if (std::chrono::steady_clock::now() > deadline)
            return 4;
        QTest::qWait(10);
    }
    std::fflush(stdout);
    return 0;
}
