#pragma once
// Window tests: a window shown and active, and clicks delivered to the window where
// the user sees the control, the way the window system delivers them.
#include <QCheckBox>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace testsupport {

// Shows a top-level window and waits until it is active, so that keys sent to it
// reach its focus widget. The bound is generous: a loaded machine may take a while.
inline bool showActive(QWidget& window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window, 30000);
}

// A left click at the middle of a control (a check box: at its box), through its window.
inline void click(QWidget* control)
{
    QWidget* top = control->window();
    const QPoint at = qobject_cast<QCheckBox*>(control) ? QPoint(6, control->height() / 2) : control->rect().center();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, control->mapTo(top, at));
}

} // namespace testsupport
