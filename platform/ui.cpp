#include "ui.h"

#include "errors.h"
#include "fonts.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
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

namespace {

QString showOpenDialog(QWidget* parent, const OpenFileRequest& request)
{
    // A start folder that is not there (the production folders of factory mode on a
    // machine without them) leaves the dialog in the current folder, not at the root
    // with the folder's text as a file name. A file, there or not, means its folder.
    const QFileInfo start(request.folder);
    const QString directory = start.isDir()                          ? start.absoluteFilePath()
                              : QFileInfo(start.absolutePath()).isDir() ? start.absolutePath()
                                                                        : QDir::currentPath();
    QFileDialog dialog(parent, request.title, directory, request.filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name given relative to the folder shown keeps the dialog there; taken as it
    // stands, it still names the file last chosen, wherever that lies.
    const QString offered = !request.fileName.isEmpty() ? request.fileName : start.isFile() ? start.absoluteFilePath() : QString();
    if (!offered.isEmpty()) {
        const QString relative = QDir(directory).relativeFilePath(offered);
        // Qt's own dialog looks a relative name up from the current folder and, where
        // that finds a file, shows only its leaf: another file. Its name box takes the
        // name as it stands; the dialog reads it against the folder shown.
        if (auto* nameBox = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            nameBox->setText(relative);
        else
            dialog.selectFile(relative);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::cleanPath(dialog.selectedFiles().first());
}

} // namespace

QString chooseOpenFile(QWidget* parent, const OpenFileRequest& request)
{
    const QString chosen = fileDialogHandler() ? fileDialogHandler()(parent, request) : showOpenDialog(parent, request);
    if (chosen.isEmpty())
        return {};
    return withDefaultExtension(chosen, request.defaultExtension);
}

QString withDefaultExtension(const QString& name, const QString& extension)
{
    if (extension.isEmpty() || name.mid(name.lastIndexOf(QLatin1Char('/')) + 1).contains(QLatin1Char('.'))
        || QFileInfo(name).isFile())
        return name;
    return name + QLatin1Char('.') + extension;
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
