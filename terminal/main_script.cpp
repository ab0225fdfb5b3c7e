// The Script group of the main window: Run Script, Stop Script and the script chooser.
#include "main.h"

#include "globals.h"

#include "platform/errors.h"
#include "platform/ui.h"
#include "scripts/script.h"
#include "terminal/testthread.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>

namespace {

constexpr const char* ScriptFilter = "Skript-Dateien (*.txt)|*.txt|Alle Dateien (*.*)|*.*";
constexpr const char* ScriptChooserTitle = "Skript laden";

} // namespace

TfrmMain::~TfrmMain()
{
    FinishScriptWorker();
}

void TfrmMain::btnTestClick(QObject*)
{
    const int delay = platform::StrToInt(txtDelay->text());
    // Never two runs at once: one under way ends first and logs its statistics. A walk
    // ends too unless it is this tab's own, which goes on with the new table.
    FinishScriptWorker();
    if (linkKind() != links::LinkKind::Ethernet && ethernet->EthernetScriptActive)
        ethernet->stopScriptWalk();
    ActiveLink.setCommandDelay(delay);
    StopScript = false;
    const QByteArray fileName = QFile::encodeName(txtFilename->text());
    if (!LoadScript(fileName.constData()))
        return;

    const links::LinkKind kind = linkKind();
    if (kind == links::LinkKind::Ethernet) {
        ethernet->startScriptWalk();
        return;
    }
    // What the worker needs of the window is read here, on the GUI thread; the link's
    // page cannot change while the link is open.
    scripts::RunSettings settings{fileName.toStdString(), kind, cbRVX->isChecked()};
    const std::uint64_t run = ++workerRun_;
    worker_ = std::make_unique<TestThread>(true, std::move(settings), ActiveLink, txtLog);
    connect(worker_.get(), &QThread::finished, this, [this, run] {
        if (run != workerRun_ || !worker_)
            return;
        worker_->wait();
        worker_.reset();
    });
    worker_->start();
}

void TfrmMain::btnEndTestClick(QObject*)
{
    StopScript = true;
    // The Ethernet walk ends and its connection closes.
    ethernet->stopScriptWalk();
    btnTest->setEnabled(true);
}

void TfrmMain::FinishScriptWorker()
{
    if (!worker_)
        return;
    worker_->finishRun();
    worker_.reset();
}

void TfrmMain::btnFileOpenClick(QObject*)
{
    // The firmware chooser shares the dialog and sets its own filter and title.
    FileOpenDlg.filter = QString::fromLatin1(ScriptFilter);
    FileOpenDlg.title = QString::fromLatin1(ScriptChooserTitle);
    FileOpenDlg.initialFolder = ScriptFolder;
    const QString path = FileOpenDlg.execute(this);
    if (path.isEmpty())
        return;
    txtFilename->setText(path);
    ScriptFolder = path;
}
