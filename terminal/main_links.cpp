// The GPIB and Ethernet branches of the link handlers.
#include "main.h"

#include "globals.h"

#include "platform/errors.h"
#include "platform/ui.h"

#include <QLineEdit>

bool TfrmMain::initGpib()
{
    platform::ui::showMessage(QStringLiteral("Error: Init GPIB!"));
    return false;
}

void TfrmMain::talkGpib(const QByteArray&) {}

void TfrmMain::listenGpib() {}

void TfrmMain::quitGpib()
{
    focusAndSelect(txtGpibAddr);
}

bool TfrmMain::initEthernet()
{
    (void)platform::StrToInt(txtTcpPort->text());
    return true;
}

void TfrmMain::talkEthernet() {}

void TfrmMain::quitEthernet()
{
    focusAndSelect(txtIpAddr);
}
