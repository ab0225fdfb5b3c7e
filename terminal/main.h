#pragma once
// Voltdesk's main window: link set-up on three tabs, interactive commands, the log.
#include "link/link.h"
#include "ethernetlink.h"
#include "logcolour.h"
#include "logview.h"
#include "widgets.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class TestThread;

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    enum Tab { TabRs232 = 0, TabGpib = 1, TabEthernet = 2 };
    static constexpr int ClientWidth = 631;
    static constexpr int ClientHeight = 672;
    static constexpr int SelectAllLength = 100;
    static constexpr std::uint32_t QueryListenPauseMs = 10;
    static constexpr int Rs232Baud = 9600;

    // arguments: the program's command line, argument 0 being the program.
    explicit TfrmMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~TfrmMain() override;

    QString VersionInfo(const QString& key) const;

    QGroupBox* grpInit;
    QPushButton* btnInit;
    QPushButton* btnQuit;
    QTabWidget* tabsInitialization;
    QWidget* tabRs232;
    QLabel* Label8;
    DropDownComboBox* txtComPort;
    QCheckBox* cbNoEcho;
    QCheckBox* cbRVX;
    QWidget* tabGpib;
    QLabel* Label2;
    QComboBox* txtGpibAddr;
    QGroupBox* grpExpert;
    QLabel* Label3;
    QLineEdit* txtDelay;
    QPushButton* btnSdc;
    QCheckBox* cbUnAddr;
    QCheckBox* cbLf;
    QPushButton* btnScan;
    QWidget* tabEthernet;
    QLabel* Label6;
    QLineEdit* txtIpAddr;
    QLabel* Label7;
    QLineEdit* txtTcpPort;
    QPushButton* btnDeviceManager;
    QGroupBox* grpCommand;
    QLabel* Label4;
    QComboBox* txtCmd;
    QPushButton* btnTalk;
    QPushButton* btnListen;
    QPushButton* btnQuery;
    QLabel* lblBytesRcvd;
    QLabel* Label1;
    QPushButton* btnClearLog;
    QGroupBox* grpScript;
    QLineEdit* txtFilename;
    QPushButton* btnFileOpen;
    QPushButton* btnTest;
    QPushButton* btnEndTest;
    QPushButton* btnSave;
    QGroupBox* grpUpdate;
    QCheckBox* cbRetry;
    QComboBox* cbFilament;
    QPushButton* btnUpdate;
    QPushButton* btnFactory;
    LogView* txtLog;
    QStatusBar* Status;
    FileOpenDialogSettings FileOpenDlg;
    EthernetLink* ethernet;

public slots:
    void FormCreate(QObject* sender);
    void FormShow(QObject* sender);
    void FormClose(QObject* sender);

    void btnInitClick(QObject* sender = nullptr);
    void btnQuitClick(QObject* sender = nullptr);
    void btnTalkClick(QObject* sender = nullptr);
    void btnListenClick(QObject* sender = nullptr);
    void btnQueryClick(QObject* sender = nullptr);
    void btnSaveClick(QObject* sender = nullptr);
    void btnClearLogClick(QObject* sender = nullptr);
    void btnClipbrdClick(QObject* sender = nullptr);
    void btnDeviceManagerClick(QObject* sender = nullptr);
    void btnUpdateClick(QObject* sender = nullptr);
    void txtComPortDropDown(QObject* sender = nullptr);
    void btnScanClick(QObject* sender = nullptr);
    void btnSdcClick(QObject* sender = nullptr);
    void cbUnAddrClick(QObject* sender = nullptr);
    void btnFactoryClick(QObject* sender = nullptr);
    void btnTestClick(QObject* sender = nullptr);
    void btnEndTestClick(QObject* sender = nullptr);
    void btnFileOpenClick(QObject* sender = nullptr);

    // Enter (key code 13) opens the link; other keys do nothing.
    void txtComPortKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);
    void txtGpibAddrKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);
    void txtIpAddrKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);
    void txtTcpPortKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);
    void txtCOMPortOldKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);
    void txtGPIBAddrOldKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public:
    // Ends a running script worker after its line (its pauses cut short) and returns
    // once it has logged its statistics; the link may be released then.
    void FinishScriptWorker();
    // Whether a script worker is under way (it is freed as its run ends).
    bool ScriptWorkerRunning() const { return worker_ != nullptr; }

private:
    QStringList arguments_;
    bool shown_ = false;
    // The one script worker, while it runs; freed when its run ends.
    std::unique_ptr<TestThread> worker_;
    std::uint64_t workerRun_ = 0;

    void buildControls();
    void enterRunsInit(int key);
    void focusAndSelect(QComboBox* box);
    void focusAndSelect(QLineEdit* edit);
    void addToHistory(const QString& text);
    // The open link's kind; with none open, the selected tab's.
    links::LinkKind linkKind() const;
    void talkRs232(const std::string& command);

    // Link branches of the other interfaces.
    bool initGpib();
    void talkGpib(const std::string& command);
    void listenGpib();
    void quitGpib();
    void buildEthernetLink();
    bool initEthernet();
    void talkEthernet();
    void quitEthernet();
};

// Rebuilds the COM-port list from the serial-port map and selects its first entry.
void FillComPortList(TfrmMain* form);
// Appends one line to the log in a colour (0 black, 255 red) and scrolls it into view.
void AddLogLine(TfrmMain* form, const QString& text, std::uint32_t colour);
