#include "fonts.h"

#include <QFont>
#include <QStringList>

namespace platform::ui {

void substituteWindowsFonts()
{
    // Arial's widths (Liberation Sans, from fonts-liberation2, or Arimo) keep every
    // caption within the pixel layout; DejaVu Sans, fontconfig's fallback, is about a
    // tenth wider.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
}

} // namespace platform::ui
