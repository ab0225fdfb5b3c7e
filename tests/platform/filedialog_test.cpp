// The real open dialog: where it starts for the folders the window hands it.
#include "platform/ui.h"
#include "tests/support/simport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>

namespace {

struct Seen {
    QString directory;
    QStringList selected;
};

// Opens the dialog on folder and cancels it as soon as it shows, noting where it stood.
Seen startOf(const QString& folder)
{
    Seen seen;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen.directory = dialog->directory().absolutePath();
        seen.selected = dialog->selectedFiles();
        dialog->reject();
    });
    const QString chosen = platform::ui::chooseOpenFile(nullptr, "Skript laden", folder, "All files (*)");
    EXPECT_EQ(chosen, "");
    return seen;
}

} // namespace

TEST(OpenDialog, StartsInTheFolderItIsGivenOrBesideTheFileOrElseInTheCurrentFolder)
{
    platform::ui::setFileDialogHandler({});
    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    std::ofstream(dir.file("old.txt")) << "*IDN?\n";

    EXPECT_EQ(startOf(folder).directory.toStdString(), QDir(folder).absolutePath().toStdString());

    const Seen beside = startOf(folder + "/old.txt");
    EXPECT_EQ(beside.directory.toStdString(), QDir(folder).absolutePath().toStdString());
    ASSERT_EQ(beside.selected.size(), 1);
    EXPECT_EQ(beside.selected[0].toStdString(), QDir(folder).absoluteFilePath("old.txt").toStdString());

    const Seen missing = startOf("I:\\PRODDATA\\TOOLS\\Voltdesk\\scripts");
    EXPECT_EQ(missing.directory.toStdString(), QDir::currentPath().toStdString());
    for (const QString& s : missing.selected)
        EXPECT_FALSE(s.contains("PRODDATA")) << s.toStdString();
}
