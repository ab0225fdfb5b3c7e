#pragma once
#include <string>

namespace platform {

// The process's current directory ("" when it cannot be read).
std::string currentDirectory();
// A file counts as read-only when it does not exist, the process may not write it,
// or its mode gives nobody write access.
bool isReadOnly(const std::string& path);

} // namespace platform
