#include "files.h"

#include <climits>
#include <sys/stat.h>
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
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), W_OK) != 0)
        return true;
    // A file nobody may write is read-only even for root, like the attribute it stands for.
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

} // namespace platform
