// The GPIB and Ethernet branches of the link handlers, and the GPIB page's own buttons.
#include "main.h"

#include "globals.h"
#include "link/gpibexchange.h"

#include "devices/gpib.h"
#include "platform/errors.h"
#include "platform/ui.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

namespace {

QString latin1(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

bool TfrmMain::initGpib()
{
    const int typed = platform::StrToInt(txtGpibAddr->currentText());
    const int address = links::GpibAddressOf(typed);
    if (address != (typed & 0xFF))
        txtGpibAddr->setEditText(QString::number(address));
    {
        auto exchange = ActiveLink.exchange();
        ActiveLink.setGpibDevice(links::GpibOpenDevice(address));
    }
    if (ActiveLink.gpibDevice() == gpib::NoDescriptor) {
        platform::ui::showMessage(QStringLiteral("Error: Init GPIB!"));
        return false;
    }
    btnListen->setEnabled(true);
    btnSdc->setEnabled(true);
    btnQuery->setEnabled(true);
    cbUnAddr->setEnabled(true);
    auto exchange = ActiveLink.exchange();
    links::GpibConfigureDevice(exchange.gpibDevice(), cbUnAddr->isChecked());
    return true;
}

void TfrmMain::talkGpib(const std::string& command)
{
    auto exchange = ActiveLink.exchange();
    links::GpibTalk(exchange.gpibDevice(), command, cbLf->isChecked());
}

void TfrmMain::listenGpib()
{
    links::GpibAnswer answer;
    {
        auto exchange = ActiveLink.exchange();
        answer = links::GpibListen(exchange.gpibDevice());
    }
    AddLogLine(this, latin1(answer.text), LogColour::Black);
    lblBytesRcvd->setText(QString::number(answer.count));
}

void TfrmMain::quitGpib()
{
    {
        auto exchange = ActiveLink.exchange();
        links::GpibOffline(exchange.gpibDevice());
    }
    focusAndSelect(txtGpibAddr);
}

void TfrmMain::btnScanClick(QObject*)
{
    txtLog->clear();
    std::vector<links::GpibListener> listeners;
    {
        // The bus is shared with a worker that may still run without a link.
        auto exchange = ActiveLink.exchange();
        listeners = links::GpibScan(cbLf->isChecked());
    }
    for (const auto& l : listeners)
        AddLogLine(this, QString::number(l.address) + QLatin1Char(' ') + latin1(l.answer), LogColour::Black);
    if (listeners.empty())
        AddLogLine(this, QStringLiteral("No GPIB devices found!"), LogColour::Red);
}

void TfrmMain::btnSdcClick(QObject*)
{
    // The page's own button: it acts on the tab shown, as no link is open while it can be pressed.
    if (tabsInitialization->currentIndex() == TabGpib) {
        auto exchange = ActiveLink.exchange();
        links::GpibClearDevice(exchange.gpibDevice());
    }
}

void TfrmMain::cbUnAddrClick(QObject*)
{
    auto exchange = ActiveLink.exchange();
    links::GpibSetUnaddress(exchange.gpibDevice(), cbUnAddr->isChecked());
}

void TfrmMain::buildEthernetLink()
{
    ethernet = new EthernetLink(this);
    ethernet->setCommandSource([this] { return txtCmd->currentText().toLatin1(); });
    connect(ethernet, &EthernetLink::logLine, this, [this](const QString& text, std::uint32_t colour) {
        AddLogLine(this, text, colour);
    });
    connect(ethernet, &EthernetLink::logCleared, txtLog, &LogView::clear);
    connect(ethernet, &EthernetLink::bytesReceived, this,
            [this](qint64 count) { lblBytesRcvd->setText(QString::number(count)); });
    connect(ethernet, &EthernetLink::statusText, Status, [this](const QString& text) { Status->showMessage(text); });
    connect(ethernet, &EthernetLink::errorMessage, this, [](const QString& text) { platform::ui::showMessage(text); });
}

bool TfrmMain::initEthernet()
{
    // An open connection keeps its address and port; the first Talk connects.
    ethernet->init(txtIpAddr->text(), txtTcpPort->text());
    return true;
}

void TfrmMain::talkEthernet()
{
    ethernet->talk();
}

void TfrmMain::quitEthernet()
{
    ethernet->stopScriptWalk();
    focusAndSelect(txtIpAddr);
}
