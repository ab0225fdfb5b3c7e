#pragma once
// State shared by the main window's handlers (and, later, the script worker).
#include "devices/rs232.h"

#include <QString>
#include <cstdint>
#include <memory>

class TfrmMain;
class TfrmFactory;

extern TfrmMain* frmMain;
extern TfrmFactory* frmFactory;

// The COM link in use; kept after a failed open so its owner deletes it.
extern std::unique_ptr<CRS232> ActivePort;
// NI-488.2 descriptor of the GPIB link; -1 when the open failed.
extern std::int32_t GpibDevice;
// Milliseconds from the Delay field.
extern std::int32_t CommandDelay;
extern bool FactoryMode;
extern QString ScriptFolder;
extern QString FirmwareFolder;
extern QString HistoryFile;

// Back to the start values (the window objects are left alone).
void ResetMainUnitGlobals();
