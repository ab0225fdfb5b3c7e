#include "main.h"

#include "factory.h"
#include "factoryexchange.h"
#include "firmwarelaunch.h"
#include "formkeys.h"
#include "globals.h"
#include "placing.h"
#include "link/rs232exchange.h"
#include "rules.h"

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/serialmap.h"
#include "platform/ui.h"
#include "platform/version.h"
#include "terminal/testthread.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

namespace {

using terminal::button;
using terminal::checkBox;
using terminal::label;
using terminal::place;

// Win32 key code of Enter, which the key handlers compare against.
constexpr int VK_RETURN = 13;

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

TfrmMain::TfrmMain(const QStringList& arguments, QWidget* parent) : QWidget(parent), arguments_(arguments)
{
    buildControls();
    // The command line is read at creation, so its values are in place when the window shows.
    FormCreate(this);
}

void TfrmMain::buildControls()
{
    setWindowTitle(QStringLiteral("Voltdesk"));
    setFixedSize(ClientWidth, ClientHeight);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    grpInit = place<QGroupBox>(this, 8, 1, 617, 177, QStringLiteral("Interface Initialization"));
    tabsInitialization = place<QTabWidget>(grpInit, 16, 24, 593, 113);
    tabRs232 = new QWidget;
    tabGpib = new QWidget;
    tabEthernet = new QWidget;
    tabsInitialization->addTab(tabRs232, QStringLiteral("&1 RS-232/USB (COM)"));
    tabsInitialization->addTab(tabGpib, QStringLiteral("&2 GPIB (IEEE-488)"));
    tabsInitialization->addTab(tabEthernet, QStringLiteral("&3 Ethernet (TCP/IP)"));
    tabsInitialization->setCurrentIndex(TabRs232);

    Label8 = label(tabRs232, "COM port:", 8, 12, 60);
    txtComPort = place<DropDownComboBox>(tabRs232, 72, 8, 81, 21);
    txtComPort->setEditable(true);
    txtComPort->setInsertPolicy(QComboBox::NoInsert);
    txtComPort->setEditText(QStringLiteral("1"));
    cbNoEcho = checkBox(tabRs232, "No Echo", 176, 10, 120);
    cbNoEcho->setVisible(false);
    cbRVX = checkBox(tabRs232, "RVX Compatibility", 176, 34, 160);
    cbRVX->setVisible(false);
    cbRVX->setEnabled(false);

    Label2 = label(tabGpib, "GPIB address:", 8, 12, 76);
    txtGpibAddr = place<QComboBox>(tabGpib, 88, 8, 57, 21);
    txtGpibAddr->setEditable(true);
    txtGpibAddr->setInsertPolicy(QComboBox::NoInsert);
    for (int a = 1; a <= 30; ++a)
        txtGpibAddr->addItem(QString::number(a));
    txtGpibAddr->setCurrentIndex(16);
    txtGpibAddr->setEditText(QStringLiteral("17"));
    btnScan = button(tabGpib, "Scan", 8, 44, 75);
    grpExpert = place<QGroupBox>(tabGpib, 232, 0, 353, 84, QStringLiteral("Expert Options for GPIB"));
    Label3 = label(grpExpert, "Delay time (ms):", 8, 22, 100);
    txtDelay = place<QLineEdit>(grpExpert, 112, 18, 49, 21, QStringLiteral("10"));
    btnSdc = button(grpExpert, "Device Clear", 232, 16, 105);
    cbUnAddr = checkBox(grpExpert, "Unaddress after Listen/Talk", 8, 46, 200);
    cbLf = checkBox(grpExpert, "Send Line Feed after Line", 8, 64, 200);

    Label6 = label(tabEthernet, "IP address:", 8, 12, 64);
    txtIpAddr = place<QLineEdit>(tabEthernet, 80, 8, 121, 21, QStringLiteral("192.168.1.10"));
    Label7 = label(tabEthernet, "TCP Port:", 216, 12, 56);
    txtTcpPort = place<QLineEdit>(tabEthernet, 276, 8, 57, 21, QStringLiteral("10001"));

    btnInit = button(grpInit, "&Init", 16, 144, 75);
    btnQuit = button(grpInit, "Q&uit", 96, 144, 75);
    btnQuit->setEnabled(false);
    btnDeviceManager = button(grpInit, "Device Manager ...", 496, 144, 113);

    grpCommand = place<QGroupBox>(this, 8, 184, 617, 89, QStringLiteral("Interactive Command"));
    Label4 = label(grpCommand, "Co&mmand:", 16, 20, 80);
    txtCmd = place<QComboBox>(grpCommand, 16, 36, 337, 21);
    txtCmd->setEditable(true);
    txtCmd->setInsertPolicy(QComboBox::NoInsert);
    txtCmd->setCompleter(nullptr);
    txtCmd->setMaxVisibleItems(16);
    txtCmd->setValidator(new UpperCaseValidator(txtCmd));
    txtCmd->setEditText(QStringLiteral("*IDN?"));
    Label4->setBuddy(txtCmd);
    btnTalk = button(grpCommand, "&Talk", 368, 34, 75);
    btnListen = button(grpCommand, "&Listen", 448, 34, 75);
    btnQuery = button(grpCommand, "&Query", 528, 34, 75);
    btnQuery->setDefault(true);
    for (QPushButton* b : {btnTalk, btnListen, btnQuery})
        b->setEnabled(false);
    lblBytesRcvd = place<QLabel>(grpCommand, 16, 66, 49, 13, QStringLiteral("0"));
    lblBytesRcvd->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1 = label(grpCommand, "Bytes received", 72, 66, 100);
    btnClearLog = button(grpCommand, "&Clear Log", 528, 61, 75, 23);

    grpScript = place<QGroupBox>(this, 8, 280, 353, 89, QStringLiteral("Script"));
    txtFilename = place<QLineEdit>(grpScript, 16, 24, 289, 21, QStringLiteral("script.txt"));
    btnFileOpen = button(grpScript, "...", 312, 23, 25, 23);
    btnTest = button(grpScript, "Run Script", 16, 54, 97);
    btnTest->setEnabled(false);
    btnEndTest = button(grpScript, "Stop Script", 120, 54, 97);
    btnSave = button(grpScript, "Save Log to File", 224, 54, 113);

    grpUpdate = place<QGroupBox>(this, 368, 280, 257, 89, QStringLiteral("Firmware Update && Factory Settings"));
    cbRetry = checkBox(grpUpdate, "Retry flashing after fail", 16, 20, 230);
    cbFilament = place<QComboBox>(grpUpdate, 16, 44, 100, 21);
    cbFilament->addItems({QStringLiteral("Filament 1"), QStringLiteral("Filament 2")});
    cbFilament->setCurrentIndex(0);
    btnUpdate = button(grpUpdate, "Firmware Update...", 124, 42, 121, 23);
    btnFactory = button(grpUpdate, "Factory...", 124, 64, 121, 22);
    btnFactory->setEnabled(false);

    txtLog = place<LogView>(this, 8, 376, 617, 273);
    Status = place<QStatusBar>(this, 0, 653, 631, 19);
    Status->setSizeGripEnabled(false);

    buildEthernetLink();

    connect(btnInit, &QPushButton::clicked, this, [this] { btnInitClick(btnInit); });
    connect(btnQuit, &QPushButton::clicked, this, [this] { btnQuitClick(btnQuit); });
    connect(btnTalk, &QPushButton::clicked, this, [this] { btnTalkClick(btnTalk); });
    connect(btnListen, &QPushButton::clicked, this, [this] { btnListenClick(btnListen); });
    connect(btnQuery, &QPushButton::clicked, this, [this] { btnQueryClick(btnQuery); });
    connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(btnSave); });
    connect(btnClearLog, &QPushButton::clicked, this, [this] { btnClearLogClick(btnClearLog); });
    connect(btnDeviceManager, &QPushButton::clicked, this, [this] { btnDeviceManagerClick(btnDeviceManager); });
    connect(btnUpdate, &QPushButton::clicked, this, [this] { btnUpdateClick(btnUpdate); });
    connect(btnScan, &QPushButton::clicked, this, [this] { btnScanClick(btnScan); });
    connect(btnSdc, &QPushButton::clicked, this, [this] { btnSdcClick(btnSdc); });
    // Every change of the tick, also one made without a click (assistive technology),
    // reaches the driver, so box and driver agree.
    connect(cbUnAddr, &QCheckBox::toggled, this, [this] { cbUnAddrClick(cbUnAddr); });
    connect(btnFactory, &QPushButton::clicked, this, [this] { btnFactoryClick(btnFactory); });
    connect(btnTest, &QPushButton::clicked, this, [this] { btnTestClick(btnTest); });
    connect(btnEndTest, &QPushButton::clicked, this, [this] { btnEndTestClick(btnEndTest); });
    connect(btnFileOpen, &QPushButton::clicked, this, [this] { btnFileOpenClick(btnFileOpen); });
    connect(txtComPort, &DropDownComboBox::dropDown, this, [this] { txtComPortDropDown(txtComPort); });

    auto* keys = new FormKeys(this, btnQuery);
    auto enter = [this, keys](QWidget* box, void (TfrmMain::*handler)(QObject*, int&, Qt::KeyboardModifiers)) {
        keys->onEnter(box, [this, box, handler](Qt::KeyboardModifiers shift) {
            int key = VK_RETURN;
            (this->*handler)(box, key, shift);
        });
    };
    enter(txtComPort, &TfrmMain::txtComPortKeyDown);
    enter(txtGpibAddr, &TfrmMain::txtGpibAddrKeyDown);
    enter(txtIpAddr, &TfrmMain::txtIpAddrKeyDown);
    enter(txtTcpPort, &TfrmMain::txtTcpPortKeyDown);
    keys->ignoreEnter(txtLog);
}

QString TfrmMain::VersionInfo(const QString& key) const
{
    auto block = platform::GetFileVersionInfo(arguments_.isEmpty() ? std::string() : arguments_.first().toStdString());
    if (!block)
        return {};
    auto translation = platform::queryTranslation(*block);
    if (!translation)
        return {};
    const QString language = QStringLiteral("%1%2")
                                 .arg(translation->language, 4, 16, QLatin1Char('0'))
                                 .arg(translation->codePage, 4, 16, QLatin1Char('0'))
                                 .toUpper();
    const QString path = QStringLiteral("\\StringFileInfo\\") + language + QStringLiteral("\\") + key;
    auto value = platform::queryString(*block, path.toStdString());
    return value ? QString::fromStdString(*value) : QString();
}

void TfrmMain::FormCreate(QObject*)
{
    setWindowTitle(terminal::CaptionFromVersion(VersionInfo(QStringLiteral("FileVersion"))));

    const auto settings = terminal::ParseCommandLine(arguments_);
    if (settings.factoryMode) {
        FactoryMode = true;
        cbNoEcho->setVisible(true);
        ScriptFolder = QString::fromLatin1(terminal::ProductionScriptsFolder);
        FirmwareFolder = QString::fromLatin1(terminal::ProductionFirmwareFolder);
    }
    if (settings.ipAddress)
        txtIpAddr->setText(*settings.ipAddress);
    if (settings.tcpPort)
        txtTcpPort->setText(*settings.tcpPort);
}

void TfrmMain::FormShow(QObject*)
{
    const QString folder = QString::fromStdString(platform::currentDirectory());
    HistoryFile = folder.isEmpty() ? QStringLiteral("history.txt") : folder + QStringLiteral("/history.txt");
    QFile file(HistoryFile);
    if (file.exists() && file.open(QIODevice::ReadOnly)) {
        QStringList entries = terminal::ParseHistory(file.readAll());
        for (QString& e : entries)
            e = terminal::UpperLatin1(e);
        const QString text = txtCmd->currentText();
        txtCmd->clear();
        txtCmd->addItems(entries);
        // No row is current until one is chosen, so the first Down shows the oldest entry.
        txtCmd->setCurrentIndex(-1);
        txtCmd->setEditText(text);
    }
    FillComPortList(this);
}

void TfrmMain::FormClose(QObject*)
{
    if (txtCmd->count() > 0 && !platform::isReadOnly(HistoryFile.toStdString())) {
        QStringList entries;
        for (int i = 0; i < txtCmd->count(); ++i)
            entries << txtCmd->itemText(i);
        QFile file(HistoryFile);
        // A history that cannot be written is given up quietly; the close goes on.
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(terminal::FormatHistory(entries));
    }
    // The port goes only once a running script has ended its line.
    FinishScriptWorker();
    ActiveLink.releasePort();
    ethernet->closeSocket();
}

void FillComPortList(TfrmMain* form)
{
    QComboBox* box = form->txtComPort;
    box->clear();
    box->setEditText(QString());
    box->addItems(terminal::ComPortListEntries(platform::serialPortMap()));
    box->setCurrentIndex(0);
    if (form->tabsInitialization->currentIndex() == TfrmMain::TabRs232 && box->isEnabled()) {
        box->setFocus();
        box->lineEdit()->setSelection(0, TfrmMain::SelectAllLength);
    }
}

void TfrmMain::txtComPortDropDown(QObject*)
{
    FillComPortList(this);
}

void AddLogLine(TfrmMain* form, const QString& text, std::uint32_t colour)
{
    form->txtLog->addLine(text, colour);
}

void TfrmMain::btnSaveClick(QObject*)
{
    const QString name = terminal::LogFileName(QDateTime::currentDateTime());
    if (!txtLog->saveToFile(name))
        throw platform::EFCreateError("Cannot create file \"" +
                                      QDir::current().absoluteFilePath(name).toStdString() + "\".");
}

void TfrmMain::btnClearLogClick(QObject*)
{
    txtLog->clear();
    lblBytesRcvd->setText(QStringLiteral("0"));
}

void TfrmMain::btnClipbrdClick(QObject*)
{
    txtLog->copySelection();
}

void TfrmMain::btnDeviceManagerClick(QObject*)
{
    platform::ui::openFolder(QFileInfo(QString::fromStdString(platform::serialMapPath())).absolutePath());
}

void TfrmMain::btnUpdateClick(QObject*)
{
    FileOpenDlg.filter = QString::fromLatin1(terminal::FirmwareFileFilter);
    FileOpenDlg.title = QString::fromLatin1(terminal::FirmwareDialogTitle);
    FileOpenDlg.initialFolder = FirmwareFolder;
    const QString file = FileOpenDlg.execute(this);
    if (file.isEmpty())
        return;
    FirmwareFolder = file;
    // The flasher opens the port itself: a running script ends first.
    FinishScriptWorker();
    ActiveLink.releasePort();
    terminal::FlasherRequest request;
    request.comPort = platform::StrToInt(txtComPort->currentText());
    request.file = file;
    request.filamentOne = cbFilament->currentIndex() == 0;
    request.retry = cbRetry->isChecked();
    const platform::process::Started started = platform::process::start(terminal::FlasherArguments(request));
    if (!started.started)
        platform::ui::showMessage(terminal::FlasherStartError());
    else if (started.terminalPid != 0)
        new terminal::FlasherTerminalWatch(started, this);
}

void TfrmMain::focusAndSelect(QComboBox* box)
{
    box->setFocus();
    box->lineEdit()->setSelection(0, SelectAllLength);
}

void TfrmMain::focusAndSelect(QLineEdit* edit)
{
    edit->setFocus();
    edit->setSelection(0, SelectAllLength);
}

void TfrmMain::btnInitClick(QObject*)
{
    btnListen->setEnabled(false);
    btnUpdate->setEnabled(false);
    ActiveLink.setCommandDelay(platform::StrToInt(txtDelay->text()));

    // Which link is open is decided here, once.
    const links::LinkKind kind = links::LinkKindOfTab(tabsInitialization->currentIndex());
    switch (kind) {
    case links::LinkKind::Gpib:
        if (!initGpib())
            return;
        break;
    case links::LinkKind::Rs232: {
        const int com = platform::StrToInt(txtComPort->currentText());
        bool opened = false;
        ActiveLink.setPort(std::make_unique<CRS232>(com, Rs232Baud, opened));
        if (!opened) {
            platform::ui::showMessage(
                QStringLiteral("Error: Init RS-232!\n\nMaybe COM Port %1 is used by other Application?").arg(com));
            return;
        }
        btnFactory->setEnabled(FactoryMode);
        break;
    }
    case links::LinkKind::Ethernet:
        if (!initEthernet())
            return;
        break;
    }

    ActiveLink.open(kind);
    btnTest->setEnabled(true);
    btnTalk->setEnabled(true);
    btnQuery->setEnabled(true);
    btnQuit->setEnabled(true);
    btnInit->setEnabled(false);
    tabsInitialization->setEnabled(false);
    focusAndSelect(txtCmd);
}

void TfrmMain::btnQuitClick(QObject*)
{
    tabsInitialization->setEnabled(true);
    ethernet->closeSocket();
    btnEndTestClick(btnQuit);
    FinishScriptWorker();
    switch (linkKind()) {
    case links::LinkKind::Gpib:
        quitGpib();
        break;
    case links::LinkKind::Rs232:
        btnUpdate->setEnabled(true);
        ActiveLink.releasePort();
        focusAndSelect(txtComPort);
        break;
    case links::LinkKind::Ethernet:
        quitEthernet();
        break;
    }
    ActiveLink.close();
    btnInit->setEnabled(true);
    for (QPushButton* b : {btnTest, btnQuit, btnTalk, btnListen, btnQuery, btnFactory})
        b->setEnabled(false);
}

void TfrmMain::addToHistory(const QString& text)
{
    int found = txtCmd->findText(text, Qt::MatchFixedString);
    if (found >= 0)
        txtCmd->removeItem(found);
    txtCmd->addItem(text);
    txtCmd->setCurrentIndex(txtCmd->count() - 1);
}

void TfrmMain::btnTalkClick(QObject*)
{
    ethernet->EthernetScriptActive = false;
    const QString text = txtCmd->currentText();
    addToHistory(text);
    const QByteArray latin1 = text.toLatin1();
    const std::string command(latin1.constData(), static_cast<std::size_t>(latin1.size()));
    switch (linkKind()) {
    case links::LinkKind::Gpib:
        talkGpib(command);
        break;
    case links::LinkKind::Rs232:
        talkRs232(command);
        break;
    case links::LinkKind::Ethernet:
        talkEthernet();
        break;
    }
}

void TfrmMain::talkRs232(const std::string& command)
{
    WaitCursor busy;
    links::Rs232Answer answer;
    {
        auto exchange = ActiveLink.exchange();
        answer = links::Rs232Exchange(exchange.port(), command, cbNoEcho->isChecked(), cbRVX->isChecked());
    }
    const QString text = QString::fromLatin1(answer.text.data(), static_cast<qsizetype>(answer.text.size()));
    if (!answer.sent) {
        AddLogLine(this, text, LogColour::Red);
        return;
    }
    lblBytesRcvd->setText(QString::number(answer.byteCount));
    AddLogLine(this, text, LogColour::Black);
}

void TfrmMain::btnListenClick(QObject*)
{
    ethernet->EthernetScriptActive = false;
    if (linkKind() == links::LinkKind::Gpib)
        listenGpib();
}

void TfrmMain::btnQueryClick(QObject*)
{
    if (linkKind() == links::LinkKind::Gpib) {
        // One exchange: a script worker cannot read the answer between Talk and Listen.
        auto exchange = ActiveLink.exchange();
        btnTalkClick(btnQuery);
        platform::Sleep(QueryListenPauseMs);
        btnListenClick(btnQuery);
    } else {
        btnTalkClick(btnQuery);
    }
    focusAndSelect(txtCmd);
}

void TfrmMain::btnFactoryClick(QObject*)
{
    if (!frmFactory)
        return;
    terminal::FactoryAnswer answer;
    {
        WaitCursor busy;
        auto exchange = ActiveLink.exchange();
        answer = terminal::FactoryQueryExchange(exchange.port());
    }
    if (answer.complete)
        frmFactory->Fill(terminal::ParseFactoryAnswer(answer.text));
    platform::ui::showModal(*frmFactory);
}

links::LinkKind TfrmMain::linkKind() const
{
    return ActiveLink.openKind().value_or(links::LinkKindOfTab(tabsInitialization->currentIndex()));
}

void TfrmMain::enterRunsInit(int key)
{
    if (key == VK_RETURN)
        btnInitClick(this);
}

void TfrmMain::txtComPortKeyDown(QObject*, int& key, Qt::KeyboardModifiers) { enterRunsInit(key); }
void TfrmMain::txtGpibAddrKeyDown(QObject*, int& key, Qt::KeyboardModifiers) { enterRunsInit(key); }
void TfrmMain::txtIpAddrKeyDown(QObject*, int& key, Qt::KeyboardModifiers) { enterRunsInit(key); }
void TfrmMain::txtTcpPortKeyDown(QObject*, int& key, Qt::KeyboardModifiers) { enterRunsInit(key); }
void TfrmMain::txtCOMPortOldKeyDown(QObject*, int& key, Qt::KeyboardModifiers) { enterRunsInit(key); }
void TfrmMain::txtGPIBAddrOldKeyDown(QObject*, int& key, Qt::KeyboardModifiers) { enterRunsInit(key); }

void TfrmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Only now is the frame's size known, where the system tells it at all.
    if (!shown_)
        CentreOnScreen(this);
    shown_ = true;
    FormShow(this);
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    FormClose(this);
    event->accept();
}
