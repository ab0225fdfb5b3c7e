#pragma once
// The class library's exception class and the standard error display.
#include <stdexcept>
#include <string>

class QString;

namespace platform {

// What the program's conversions and file creation throw; its message is shown as is.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// Whole decimal number: leading blanks and a sign allowed, nothing after the digits,
// within 32 bits. Anything else throws EConvertError "'text' is not a valid integer value".
int StrToInt(const QString& text);
int StrToInt(const std::string& text);

} // namespace platform
