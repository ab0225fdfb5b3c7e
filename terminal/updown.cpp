#include "updown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    setFocusPolicy(Qt::NoFocus);
    for (QToolButton* b : {up_, down_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { step(btNext); });
    connect(down_, &QToolButton::clicked, this, [this] { step(btPrev); });
}

void UpDown::setRange(int min, int max)
{
    min_ = min;
    max_ = std::max(min, max);
    setPosition(position_);
}

void UpDown::setPosition(int position)
{
    position_ = std::clamp(position, min_, max_);
    if (associate_)
        associate_->setText(QString::number(position_));
}

void UpDown::setAssociate(QLineEdit* edit)
{
    if (associate_)
        associate_->removeEventFilter(this);
    associate_ = edit;
    if (associate_) {
        associate_->installEventFilter(this);
        setPosition(position_);
    }
}

void UpDown::step(Button button)
{
    // A number typed into the box is the position, held within the range like any
    // other, whether or not the step then goes through; the box keeps what was typed
    // until a step rewrites it.
    if (associate_) {
        bool ok = false;
        int typed = associate_->text().trimmed().toInt(&ok);
        if (ok)
            position_ = std::clamp(typed, min_, max_);
    }
    const int next = position_ + (button == btNext ? increment_ : -increment_);
    if (next < min_ || next > max_)
        return;
    setPosition(next);
    emit clicked(button);
}

void UpDown::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == associate_ && arrowKeys_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? btNext : btPrev);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
