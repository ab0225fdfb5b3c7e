// The driver library through the dynamic loader.
#include "gpib_driver.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>

namespace gpib_driver {
namespace {

constexpr const char* LibraryVariable = "VOLTDESK_GPIB_LIBRARY";
constexpr const char* DefaultLibrary = "libgpib.so.0";
// When neither the loader nor errno names a cause.
constexpr int UnnamedError = 1;

struct ExportNames {
    const char* ibsta;
    const char* iberr;
    const char* ibcntl;
};
// The NI names first; the Linux GPIB driver exports the plain ones.
constexpr ExportNames UserNames{"user_ibsta", "user_iberr", "user_ibcntl"};
constexpr ExportNames PlainNames{"ibsta", "iberr", "ibcntl"};

thread_local int lastErrorCode = 0;

void recordFailure(int savedErrno)
{
    (void)dlerror(); // the loader's message has no code; clear it for the next call
    lastErrorCode = savedErrno != 0 ? savedErrno : UnnamedError;
}

const char* libraryName()
{
    const char* name = std::getenv(LibraryVariable);
    return name && *name ? name : DefaultLibrary;
}

StatusExports lookUp(Handle library, const ExportNames& names)
{
    // All three are fetched before any is tested.
    StatusExports e;
    e.ibsta = static_cast<const int*>(find(library, names.ibsta));
    e.iberr = static_cast<const int*>(find(library, names.iberr));
    e.ibcntl = static_cast<const int*>(find(library, names.ibcntl));
    return e;
}

bool complete(const StatusExports& e) { return e.ibsta && e.iberr && e.ibcntl; }
bool empty(const StatusExports& e) { return !e.ibsta && !e.iberr && !e.ibcntl; }

} // namespace

Handle open()
{
    errno = 0;
    Handle h = dlopen(libraryName(), RTLD_NOW | RTLD_LOCAL);
    if (!h)
        recordFailure(errno);
    return h;
}

bool findStatusExports(Handle library, StatusExports& exports)
{
    exports = lookUp(library, UserNames);
    if (empty(exports))
        exports = lookUp(library, PlainNames);
    return complete(exports);
}

void* find(Handle library, const char* name)
{
    errno = 0;
    (void)dlerror();
    void* p = dlsym(library, name);
    if (!p)
        recordFailure(errno);
    return p;
}

void close(Handle library)
{
    errno = 0;
    if (dlclose(library) != 0)
        recordFailure(errno);
}

int lastError() { return lastErrorCode; }

} // namespace gpib_driver
