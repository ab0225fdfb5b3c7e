#include "ui.h"

#include "errors.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace platform::ui {
namespace {

MessageHandler& messageHandler()
{
    static MessageHandler h;
    return h;
}

FileDialogHandler& fileDialogHandler()
{
    static FileDialogHandler h;
    return h;
}

OpenFolderHandler& openFolderHandler()
{
    static OpenFolderHandler h;
    return h;
}

} // namespace

void showMessage(const QString& text)
{
    if (messageHandler()) {
        messageHandler()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void setMessageHandler(MessageHandler handler)
{
    messageHandler() = std::move(handler);
}

void showException(const std::exception& e)
{
    showMessage(QString::fromLocal8Bit(e.what()));
}

QString chooseOpenFile(QWidget* parent, const QString& title, const QString& folder,
                       const QString& filter)
{
    if (fileDialogHandler())
        return fileDialogHandler()(parent, title, folder, filter);
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (QFileInfo(folder).isFile())
        dialog.selectFile(folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString qtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const qsizetype open = description.indexOf(QLatin1Char('('));
        if (open >= 0)
            description.truncate(open);
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        entries << description.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

void setFileDialogHandler(FileDialogHandler handler)
{
    fileDialogHandler() = std::move(handler);
}

void openFolder(const QString& folder)
{
    if (openFolderHandler()) {
        openFolderHandler()(folder);
        return;
    }
    QString opener = QStandardPaths::findExecutable("xdg-open");
    if (opener.isEmpty())
        return;
    QByteArray prog = opener.toLocal8Bit();
    QByteArray arg = folder.toLocal8Bit();
    char* argv[] = {prog.data(), arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, prog.constData(), nullptr, nullptr, argv, environ) == 0) {
        // Reap it in the background so no zombie stays; the caller does not wait.
        std::thread([pid] { int st; waitpid(pid, &st, 0); }).detach();
    }
}

void setOpenFolderHandler(OpenFolderHandler handler)
{
    openFolderHandler() = std::move(handler);
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showException(e);
    } catch (...) {
        showException(Exception(""));
    }
    return false;
}

} // namespace platform::ui
