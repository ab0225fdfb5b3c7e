#pragma once
// Seams for what a test must replace in the window: message boxes, file dialogs,
// the shell. Each has a default that shows the real thing.
#include <QApplication>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace platform::ui {

using MessageHandler = std::function<void(const QString& text)>;
// Shows a message box with an OK button; returns when it is closed.
void showMessage(const QString& text);
// nullptr-like empty function restores the real message box.
void setMessageHandler(MessageHandler handler);

// The standard display of an exception: its message in a message box.
void showException(const std::exception& e);

// What the open dialog is given each time it is shown.
struct OpenFileRequest {
    QString title;
    QString folder;            // where it starts: a folder, or a file in the folder meant
    QString filter;            // in Qt's form (qtNameFilter)
    QString fileName;          // offered as the choice; "" for none
    QString defaultExtension;  // given to a chosen name that has none; "" for none
};

// The dialog's own answer: the name chosen or typed, "" when the user cancelled.
using FileDialogHandler = std::function<QString(QWidget* parent, const OpenFileRequest& request)>;
// Returns the chosen file, with the default extension where its name has none and
// names no file, or an empty text when the user cancelled. The file need not exist.
QString chooseOpenFile(QWidget* parent, const OpenFileRequest& request);
void setFileDialogHandler(FileDialogHandler handler);
// The name with "." and the extension added when its file name holds no dot at all
// and it names no existing file.
QString withDefaultExtension(const QString& name, const QString& extension);
// A Windows dialog filter ("Text files (*.txt)|*.txt|All files (*.*)|*.*") in Qt's
// form ("Text files (*.txt);;All files (*)"): "*.*" matches every name, as it does
// on Windows, and patterns split by ";" are split by a blank.
QString qtNameFilter(const QString& windowsFilter);

// Shows a dialog modally and returns its result when it is closed. A test's handler
// shows it without a loop of its own, so that the test can drive it.
using ModalHandler = std::function<int(QDialog& dialog)>;
int showModal(QDialog& dialog);
void setModalHandler(ModalHandler handler);

// Opens a folder in the desktop's file manager, if there is one; never waits.
using OpenFolderHandler = std::function<void(const QString& folder)>;
void openFolder(const QString& folder);
void setOpenFolderHandler(OpenFolderHandler handler);

// The application object: an exception that escapes a handler is shown and the
// program carries on. It sets the font stand-ins (fonts.h), so the program and the
// window tests draw the same captions.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace platform::ui
