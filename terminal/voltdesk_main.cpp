// Voltdesk's program entry.
#include "factory.h"
#include "globals.h"
#include "main.h"

#include "platform/errors.h"
#include "platform/ui.h"

#include <cstdio>

int main(int argc, char** argv)
{
    platform::ui::Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Voltdesk"));
    try {
        TfrmMain mainWindow(QApplication::arguments());
        frmMain = &mainWindow;
        TfrmFactory factory(&mainWindow);
        frmFactory = &factory;
        mainWindow.show();
        QApplication::exec();
    } catch (const std::exception& e) {
        platform::ui::showException(e);
    } catch (...) {
        platform::ui::showException(platform::Exception(""));
    }
    frmFactory = nullptr;
    frmMain = nullptr;
    return 0;
}
