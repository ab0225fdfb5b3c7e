#pragma once
// Small widget variants the main window needs.
#include <QComboBox>
#include <QValidator>

// A combo box that says when its list is about to drop down.
class DropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
signals:
    void dropDown();
};

// Shows and takes all text in upper case.
class UpperCaseValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// Places a window, frame included, in the middle of its screen; a window larger than
// the screen keeps its top left corner on it, so its caption stays in reach.
void CentreOnScreen(QWidget* window);

// The file-open dialog's settings, kept between uses.
struct FileOpenDialogSettings {
    QString defaultExtension = "txt";
    int filterIndex = 0;
    QString initialFolder = ".";
    QString title = "Skript laden";
    QString filter;
    QString fileName;  // the file last chosen, full path; offered the next time

    // Shows the dialog; returns the chosen file's full path, kept as fileName, or ""
    // when the user cancelled.
    QString execute(QWidget* parent);
};
