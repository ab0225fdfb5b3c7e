#include "formkeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcutEvent>

namespace {

bool isEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// A character that a text field would insert, typed with Alt (AltGr chords arrive
// without Alt, or with Ctrl as well, and type as usual).
bool isAltCharacter(const QKeyEvent* key)
{
    const Qt::KeyboardModifiers mods = key->modifiers();
    if (!(mods & Qt::AltModifier) || (mods & Qt::ControlModifier))
        return false;
    const QString text = key->text();
    return (!text.isEmpty() && text.at(0).isPrint()) || (key->key() >= Qt::Key_Space && key->key() <= 0xFF);
}

} // namespace

FormKeys::FormKeys(QWidget* window, QPushButton* defaultButton)
    : QObject(window), window_(window), defaultButton_(defaultButton)
{
    // The focus widget, not the window, receives a key: only an application-wide
    // filter sees every key of the window first.
    qApp->installEventFilter(this);
}

void FormKeys::onEnter(QWidget* box, std::function<void(Qt::KeyboardModifiers)> handler)
{
    enterBoxes_.push_back({box, std::move(handler)});
}

void FormKeys::ignoreEnter(QWidget* box)
{
    enterBoxes_.push_back({box, {}});
}

bool FormKeys::eventFilter(QObject* watched, QEvent* event)
{
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::Shortcut) || !watched->isWidgetType())
        return false;
    auto* target = static_cast<QWidget*>(watched);
    if (target->window() != window_)
        return false;
    if (event->type() == QEvent::Shortcut) {
        auto* button = qobject_cast<QPushButton*>(target);
        if (!button || static_cast<QShortcutEvent*>(event)->isAmbiguous())
            return false;
        button->click();
        return true;
    }
    // A key that the focus widget ignored travels on to its parents; only its first
    // delivery counts.
    QWidget* focus = QApplication::focusWidget();
    if (target != (focus ? focus : window_))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (!handleKey(target, key))
        return false;
    key->accept();
    return true;
}

bool FormKeys::handleKey(QWidget* target, QKeyEvent* key)
{
    if (isAltCharacter(key))
        return true;
    if (!isEnter(key->key()))
        return false;
    for (const EnterBox& e : enterBoxes_) {
        if (e.box && (e.box == target || e.box->isAncestorOf(target))) {
            if (e.handler)
                e.handler(key->modifiers());
            return true;
        }
    }
    if (auto* button = qobject_cast<QPushButton*>(target)) {
        button->click();
        return true;
    }
    if (defaultButton_ && defaultButton_->isEnabled())
        defaultButton_->click();
    return true;
}
