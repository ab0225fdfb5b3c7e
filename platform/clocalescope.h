#pragma once
// The window's application sets the user's locale, which may write "0,5"; the module,
// the log and the statistics read and write ".". While a CLocaleScope lives, the C
// runtime formats and reads numbers on its thread as in the "C" locale.
#include <locale.h>

namespace platform {

locale_t cLocale();

class CLocaleScope {
public:
    CLocaleScope() : old_(::uselocale(cLocale())) {}
    ~CLocaleScope() { ::uselocale(old_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t old_;
};

} // namespace platform
