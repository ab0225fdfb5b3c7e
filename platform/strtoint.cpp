#include "errors.h"

#include <QString>

namespace platform {

int StrToInt(const QString& text)
{
    return StrToInt(text.toStdString());
}

} // namespace platform
