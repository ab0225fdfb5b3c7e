#pragma once
// A decimal-comma locale (de_DE.UTF-8) as the C runtime's locale for the life of the
// object, built from the system's sources (package locales) into a folder of its own,
// since few machines have it generated; the locale before it comes back at the end.
#include "tests/support/simport.h"

#include <memory>
#include <string>

namespace testsupport {

class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // "" when the locale is in force and writes "0,5"; else why not.
    const std::string& failure() const { return failure_; }

private:
    TempDir dir_;
    std::unique_ptr<ScopedEnv> locpath_;
    std::string before_;
    std::string failure_;
};

} // namespace testsupport
