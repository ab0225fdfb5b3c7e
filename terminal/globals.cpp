#include "globals.h"

TfrmMain* frmMain = nullptr;
TfrmFactory* frmFactory = nullptr;
std::unique_ptr<CRS232> ActivePort;
std::int32_t GpibDevice = 0;
std::int32_t CommandDelay = 0;
bool FactoryMode = false;
QString ScriptFolder = ".";
QString FirmwareFolder = ".";
QString HistoryFile = "history.txt";

void ResetMainUnitGlobals()
{
    ActivePort.reset();
    GpibDevice = 0;
    CommandDelay = 0;
    FactoryMode = false;
    ScriptFolder = ".";
    FirmwareFolder = ".";
    HistoryFile = "history.txt";
}
