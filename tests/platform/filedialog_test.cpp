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
    QString chosen;
};

// Opens the dialog on folder, offering fileName, and cancels it as soon as it shows
// (or takes what it offers), noting where it stood.
Seen startOf(const QString& folder, const QString& fileName = {}, bool take = false)
{
    Seen seen;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen.directory = dialog->directory().absolutePath();
        seen.selected = dialog->selectedFiles();
        // What the dialog's Open button does: QFileDialog's own accept().
        QDialog* asDialog = dialog;
        if (take) {
            asDialog->accept();
        } else {
            dialog->reject();
        }
    });
    seen.chosen = platform::ui::chooseOpenFile(nullptr, {"Skript laden", folder, "All files (*)", fileName, "txt"});
    if (!take) {
        EXPECT_EQ(seen.chosen.toStdString(), "");
    }
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

TEST(OpenDialog, OffersTheNameLastChosenWithoutLeavingItsStartFolder)
{
    platform::ui::setFileDialogHandler({});
    testsupport::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    QDir(folder).mkdir("scripts");
    QDir(folder).mkdir("hex");
    std::ofstream(dir.file("hex/QX20AF_1.hex")) << ":00\n";

    const Seen seen = startOf(folder + "/scripts/old.txt", folder + "/hex/QX20AF_1.hex", true);
    EXPECT_EQ(seen.directory.toStdString(), QDir(folder).absoluteFilePath("scripts").toStdString());
    EXPECT_EQ(seen.chosen.toStdString(), QDir(folder).absoluteFilePath("hex/QX20AF_1.hex").toStdString());

    // Started in the folder the dialog shows, so the offered name also resolves from the
    // current folder: Open as offered still takes that file, not its leaf beside it.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder));
    const Seen here = startOf(folder, folder + "/hex/QX20AF_1.hex", true);
    QDir::setCurrent(before);
    EXPECT_EQ(here.chosen.toStdString(), QDir(folder).absoluteFilePath("hex/QX20AF_1.hex").toStdString());
}

TEST(OpenDialog, ANameWithoutAnExtensionGetsTheDefaultOne)
{
    QString answer;
    platform::ui::setFileDialogHandler([&](QWidget*, const platform::ui::OpenFileRequest&) { return answer; });
    const std::pair<QString, QString> cases[] = {
        {"idn", "idn.txt"},
        {"/home/me/scripts.d/idn", "/home/me/scripts.d/idn.txt"},
        {"/home/me/idn.scr", "/home/me/idn.scr"},
        {"/home/me/.idn", "/home/me/.idn"},
        {"", ""},
    };
    for (const auto& [typed, chosen] : cases) {
        answer = typed;
        EXPECT_EQ(platform::ui::chooseOpenFile(nullptr, {"Skript laden", ".", "", "", "txt"}).toStdString(),
                  chosen.toStdString());
    }
    testsupport::TempDir dir;
    std::ofstream(dir.file("QX10_fw")) << "S0\n";
    answer = QString::fromStdString(dir.file("QX10_fw"));
    EXPECT_EQ(platform::ui::chooseOpenFile(nullptr, {"Skript laden", ".", "", "", "txt"}).toStdString(), answer.toStdString());
    answer = "idn";
    EXPECT_EQ(platform::ui::chooseOpenFile(nullptr, {"Skript laden", ".", "", "", ""}).toStdString(), "idn");
    platform::ui::setFileDialogHandler({});
}
