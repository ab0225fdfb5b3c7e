#pragma once
// Test access to the call layer's process-wide state.
namespace gpib_testing {

// Forgets the loaded library (without unloading it: it stays mapped), empties
// the entry cache and zeroes the status variables.
void ResetLayer();

// Number of entry look-ups in a loaded library since the last reset.
int EntryLookups();

} // namespace gpib_testing
