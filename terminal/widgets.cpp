#include "widgets.h"

void DropDownComboBox::showPopup()
{
    emit dropDown();
    QComboBox::showPopup();
}

QValidator::State UpperCaseValidator::validate(QString& input, int& pos) const
{
    (void)pos;
    input = input.toUpper();
    return Acceptable;
}
