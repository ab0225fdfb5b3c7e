#pragma once
// The keyboard of a window as the original platform runs it, for keys as the window
// system delivers them (to the focus widget; an editable combo box hands them on to its
// line edit by a direct call, which no filter on the line edit sees):
// - Enter (Return or keypad Enter) in a box with an Enter handler runs the handler;
//   on a focused push button it clicks that button; in a box that takes Enter itself
//   (ignoreEnter, such as the multi-line log) it does nothing; anywhere else it clicks
//   the default button while that is enabled.
// - Alt with a character never types it: an enabled control's accelerator takes the
//   chord before it gets here, and a chord that none took does nothing.
// - A push button's accelerator clicks it at once and leaves the focus where it is
//   (the class library would move the focus to the button and click it later).
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QKeyEvent;
class QPushButton;
class QWidget;

class FormKeys : public QObject {
    Q_OBJECT
public:
    FormKeys(QWidget* window, QPushButton* defaultButton);

    // Enter in box, or in a widget inside it, runs handler (given the modifiers held)
    // instead of the default button.
    void onEnter(QWidget* box, std::function<void(Qt::KeyboardModifiers)> handler);
    // Enter in box does nothing, as in a multi-line text box.
    void ignoreEnter(QWidget* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handleKey(QWidget* target, QKeyEvent* key);

    struct EnterBox {
        QPointer<QWidget> box;
        std::function<void(Qt::KeyboardModifiers)> handler;
    };
    QWidget* window_;
    QPointer<QPushButton> defaultButton_;
    std::vector<EnterBox> enterBoxes_;
};
