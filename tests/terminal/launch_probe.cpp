// Voltdesk's main window with "Firmware Update..." clicked, the file dialog answering
// with FILE; copied next to a stand-in flasher by the flasher start tests. Message
// boxes are printed as "message: TEXT".
// usage: launch_probe FILE COM-TEXT [retry] [filament2]
#include "terminal/main.h"

#include "platform/ui.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <cstring>

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
    std::fflush(stdout);
    return 0;
}
