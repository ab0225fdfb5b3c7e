#include "widgets.h"

#include "rules.h"

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
