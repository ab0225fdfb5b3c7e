#include "ui.h"

#include "errors.h"
#include "fonts.h"

#include <QDialog>
#include <QDir>
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

ModalHandler& modalHandler()
{
    static ModalHandler h;
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
    // A start folder that is not there (the production folders of factory mode on a
    // machine without them) leaves the dialog in the current folder, not at the root
    // with the folder's text as a file name.
    const QFileInfo start(folder);
    const QString directory = start.isDir() ? start.absoluteFilePath() : start.isFile() ? start.absolutePath() : QDir::currentPath();
    QFileDialog dialog(parent, title, directory, filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (start.isFile())
        dialog.selectFile(start.absoluteFilePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void setFileDialogHandler(FileDialogHandler handler)
{
    fileDialogHandler() = std::move(handler);
}

QString qtNameFilter(const QString& windowsFilter)
{
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // Qt reads the patterns from the parentheses that end the description.
        QString description = parts[i].trimmed();
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (description.endsWith(QLatin1Char(')')) && open >= 0)
            description = description.left(open).trimmed();
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
        }
        filters << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

int showModal(QDialog& dialog)
{
    if (modalHandler())
        return modalHandler()(dialog);
    return dialog.exec();
}

void setModalHandler(ModalHandler handler)
{
    modalHandler() = std::move(handler);
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

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
    // Before any window is built, so that the forms' captions measure as laid out.
    substituteWindowsFonts();
}

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
