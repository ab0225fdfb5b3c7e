#include "files.h"

#include <climits>
#include <unistd.h>

namespace platform {

std::string currentDirectory()
{
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf))
        return {};
    return buf;
}

bool isReadOnly(const std::string& path)
{
    return ::access(path.c_str(), F_OK) != 0 || ::access(path.c_str(), W_OK) != 0;
}

} // namespace platform
