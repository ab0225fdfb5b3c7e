#pragma once
// Controls placed the way the forms lay them out: fixed positions and sizes in
// pixels of the parent, captions as the forms give them.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <utility>

namespace terminal {

template <typename W, typename... A>
W* place(QWidget* parent, int left, int top, int width, int height, A&&... args)
{
    auto* w = new W(std::forward<A>(args)..., parent);
    w->setGeometry(left, top, width, height);
    return w;
}

inline QPushButton* button(QWidget* parent, const char* caption, int left, int top, int width, int height = 25)
{
    return place<QPushButton>(parent, left, top, width, height, QString::fromUtf8(caption));
}

inline QCheckBox* checkBox(QWidget* parent, const char* caption, int left, int top, int width)
{
    return place<QCheckBox>(parent, left, top, width, 17, QString::fromUtf8(caption));
}

inline QLabel* label(QWidget* parent, const char* caption, int left, int top, int width = 90)
{
    return place<QLabel>(parent, left, top, width, 13, QString::fromUtf8(caption));
}

} // namespace terminal
