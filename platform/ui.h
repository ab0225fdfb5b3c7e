#pragma once
// Seams for what a test must replace in the window: message boxes, file dialogs,
// the shell. Each has a default that shows the real thing.
#include <QApplication>
#include <QString>
#include <functional>

class QWidget;

namespace platform::ui {

using MessageHandler = std::function<void(const QString& text)>;
// Shows a message box with an OK button; returns when it is closed.
void showMessage(const QString& text);
// nullptr-like empty function restores the real message box.
void setMessageHandler(MessageHandler handler);

// The standard display of an exception: its message in a message box.
void showException(const std::exception& e);

using FileDialogHandler = std::function<QString(QWidget* parent, const QString& title,
                                                const QString& folder, const QString& filter)>;
// Returns the chosen file, or an empty text when the user cancelled. The file need not
// exist; a file named in folder is offered as the choice.
QString chooseOpenFile(QWidget* parent, const QString& title, const QString& folder,
                       const QString& filter);
void setFileDialogHandler(FileDialogHandler handler);
// A filter of "description|patterns" pairs (patterns separated by ';') in the form
// the dialog takes: "Text files (*.txt);;All files (*)". "*.*" stands for every file.
QString qtFileFilter(const QString& filter);

// Opens a folder in the desktop's file manager, if there is one; never waits.
using OpenFolderHandler = std::function<void(const QString& folder)>;
void openFolder(const QString& folder);
void setOpenFolderHandler(OpenFolderHandler handler);

// The application object: an exception that escapes a handler is shown and the
// program carries on.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace platform::ui
