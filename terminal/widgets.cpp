#include "widgets.h"

#include "rules.h"

#include "platform/ui.h"

#include <QFileInfo>
#include <QScreen>
#include <QWidget>

#include <algorithm>

void DropDownComboBox::showPopup()
{
    emit dropDown();
    QComboBox::showPopup();
}

QValidator::State UpperCaseValidator::validate(QString& input, int& pos) const
{
    (void)pos;
    input = terminal::UpperLatin1(input);
    return Acceptable;
}

void CentreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame(QPoint(0, 0), window->frameGeometry().size());
    frame.moveCenter(area.center());
    window->move(std::max(frame.left(), area.left()), std::max(frame.top(), area.top()));
}

QString FileOpenDialogSettings::execute(QWidget* parent)
{
    const QString chosen = platform::ui::chooseOpenFile(
        parent, {title, initialFolder, platform::ui::qtNameFilter(filter), fileName, defaultExtension});
    if (chosen.isEmpty())
        return {};
    fileName = QFileInfo(chosen).absoluteFilePath();
    return fileName;
}
