#include "commalocale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace testsupport {

CommaLocale::CommaLocale() : before_(std::setlocale(LC_ALL, nullptr))
{
    const std::string localedef = "localedef -i de_DE -f UTF-8 '" + dir_.file("de_DE.UTF-8") + "' 2>&1";
    const int built = std::system(localedef.c_str());
    locpath_ = std::make_unique<ScopedEnv>("LOCPATH", dir_.path());
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        failure_ = "no de_DE.UTF-8: localedef (package locales) ended with status " + std::to_string(built);
    else if (std::strcmp(std::localeconv()->decimal_point, ",") != 0)
        failure_ = std::string("de_DE.UTF-8 writes the decimal point as '") + std::localeconv()->decimal_point + "'";
}

CommaLocale::~CommaLocale()
{
    std::setlocale(LC_ALL, before_.c_str());
}

} // namespace testsupport
