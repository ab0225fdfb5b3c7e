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

// Called before each loader call: no stale message, no stale errno.
void clearError()
{
    (void)dlerror();
    errno = 0;
}

// Called right after a failed loader call that was entered with errno 0. The
// loader puts its reason into errno when its message is fetched (which also
// clears the message for the next call).
void recordFailure()
{
    (void)dlerror();
    lastErrorCode = errno != 0 ? errno : UnnamedError;
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
    e.ibsta = static_cast<int*>(find(library, names.ibsta));
    e.iberr = static_cast<int*>(find(library, names.iberr));
    e.ibcntl = static_cast<int*>(find(library, names.ibcntl));
    return e;
}

bool complete(const StatusExports& e) { return e.ibsta && e.iberr && e.ibcntl; }
bool empty(const StatusExports& e) { return !e.ibsta && !e.iberr && !e.ibcntl; }

} // namespace

Handle open()
{
    clearError();
    Handle h = dlopen(libraryName(), RTLD_NOW | RTLD_LOCAL);
    if (!h)
        recordFailure();
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
    clearError();
    void* p = dlsym(library, name);
    if (!p)
        recordFailure();
    return p;
}

void close(Handle library)
{
    clearError();
    if (dlclose(library) != 0)
        recordFailure();
}

int lastError() { return lastErrorCode; }

} // namespace gpib_driver
