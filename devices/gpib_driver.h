#pragma once
// How the call layer reaches the driver library on this platform. Each failing
// operation leaves its system error code for lastError(), as the platform's own
// last-error value would.
namespace gpib_driver {

using Handle = void*;

// The driver's own status variables; the layer only reads them.
struct StatusExports {
    int* ibsta = nullptr;
    int* iberr = nullptr;
    int* ibcntl = nullptr; // a 32-bit count
};

// Loads the driver library; nullptr on failure.
Handle open();
// Finds the three status variables; false unless all three of one naming are there.
bool findStatusExports(Handle library, StatusExports& exports);
// An exported symbol; nullptr when missing.
void* find(Handle library, const char* name);
void close(Handle library);

// The system error code of the last failing operation of this thread.
int lastError();

} // namespace gpib_driver
