#pragma once
// State shared by the main window's handlers, the script worker and the factory dialog.
#include "link/link.h"

#include <QString>
#include <cstdint>

class TfrmMain;
class TfrmFactory;

extern TfrmMain* frmMain;
extern TfrmFactory* frmFactory;

// The open link: its kind, the COM port in use, the GPIB descriptor (-1 when the
// open failed) and the milliseconds from the Delay field.
extern links::Link ActiveLink;
extern bool FactoryMode;
extern QString ScriptFolder;
extern QString FirmwareFolder;
extern QString HistoryFile;

// Back to the start values (the window objects are left alone).
void ResetMainUnitGlobals();
