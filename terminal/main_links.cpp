// The GPIB and Ethernet branches of the link handlers, and the GPIB page's own buttons.
#include "main.h"

#include "globals.h"
#include "rs232exchange.h"

#include "devices/gpib.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/ui.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <cstring>

namespace {

constexpr int Board = 0;
constexpr int DefaultAddress = 17;
constexpr int HighestAddress = 31;
constexpr int NoSecondaryAddress = 0;
constexpr int TimeoutT300ms = 10;
constexpr int EotOn = 1;
constexpr int NoEos = 0;
constexpr int IbcUnAddr = 0x1B;
constexpr int IbcEOT = 4;
constexpr int ListenBufferSize = 256;
constexpr int ScanListSize = 32;
constexpr int ScanLimit = 30;
constexpr int ScanReadMax = 255;
constexpr std::uint32_t ScanAnswerPauseMs = 100;

int openDevice(int address)
{
    return ibdev(Board, address, NoSecondaryAddress, TimeoutT300ms, EotOn, NoEos);
}

// The bytes up to the first NUL, never past the buffer.
QString textOf(const char* buffer, std::size_t size)
{
    return QString::fromLatin1(buffer, static_cast<qsizetype>(strnlen(buffer, size)));
}

} // namespace

bool TfrmMain::initGpib()
{
    int address = platform::StrToInt(txtGpibAddr->currentText()) & 0xFF;
    if (address == 0 || address > HighestAddress) {
        address = DefaultAddress;
        txtGpibAddr->setEditText(QString::number(DefaultAddress));
    }
    GpibDevice = openDevice(address);
    if (GpibDevice == gpib::NoDescriptor) {
        platform::ui::showMessage(QStringLiteral("Error: Init GPIB!"));
        return false;
    }
    btnListen->setEnabled(true);
    btnSdc->setEnabled(true);
    btnQuery->setEnabled(true);
    cbUnAddr->setEnabled(true);
    if (cbUnAddr->isChecked())
        ibconfig(GpibDevice, IbcUnAddr, 1);
    ibconfig(GpibDevice, IbcEOT, 1);
    return true;
}

void TfrmMain::talkGpib(const QByteArray& command)
{
    const bool lineFeed = cbLf->isChecked();
    QByteArray line = terminal::CutCommand(command, lineFeed ? 1 : 0);
    if (lineFeed)
        line += '\n';
    ibwrt(GpibDevice, line.constData(), line.size());
}

void TfrmMain::listenGpib()
{
    char buffer[ListenBufferSize] = {};
    ibrd(GpibDevice, buffer, ListenBufferSize);
    AddLogLine(this, textOf(buffer, sizeof buffer), LogColour::Black);
    lblBytesRcvd->setText(QString::number(ibcntl));
}

void TfrmMain::quitGpib()
{
    ibonl(GpibDevice, 0);
    focusAndSelect(txtGpibAddr);
}

void TfrmMain::btnScanClick(QObject*)
{
    txtLog->clear();
    SendIFC(Board);
    Addr4882_t addresses[ScanListSize] = {};
    for (int i = 0; i < ScanLimit; ++i)
        addresses[i] = static_cast<Addr4882_t>(i + 1);
    addresses[ScanLimit] = NOADDR;
    Addr4882_t results[ScanListSize] = {};
    FindLstn(Board, addresses, results, ScanLimit);

    QByteArray query("*IDN?");
    if (cbLf->isChecked())
        query += '\n';
    bool found = false;
    for (int i = 0; i < ScanListSize && results[i] > 0; ++i) {
        found = true;
        const int device = openDevice(results[i]);
        ibwrt(device, query.constData(), query.size());
        platform::Sleep(ScanAnswerPauseMs);
        char buffer[ListenBufferSize] = {};
        ibrd(device, buffer, ScanReadMax);
        const std::size_t received = static_cast<std::size_t>(qBound<std::int32_t>(0, ibcntl, ScanReadMax));
        AddLogLine(this, QString::number(results[i]) + QLatin1Char(' ') + textOf(buffer, received), LogColour::Black);
        ibonl(device, 0);
    }
    if (!found)
        AddLogLine(this, QStringLiteral("No GPIB devices found!"), LogColour::Red);
}

void TfrmMain::btnSdcClick(QObject*)
{
    if (tabsInitialization->currentIndex() == TabGpib)
        ibclr(GpibDevice);
}

void TfrmMain::cbUnAddrClick(QObject*)
{
    ibconfig(GpibDevice, IbcUnAddr, cbUnAddr->isChecked() ? 1 : 0);
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
