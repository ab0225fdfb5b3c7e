#include "globals.h"

TfrmMain* frmMain = nullptr;
TfrmFactory* frmFactory = nullptr;
links::Link ActiveLink;
bool FactoryMode = false;
QString ScriptFolder = ".";
QString FirmwareFolder = ".";
QString HistoryFile = "history.txt";

void ResetMainUnitGlobals()
{
    ActiveLink.reset();
    FactoryMode = false;
    ScriptFolder = ".";
    FirmwareFolder = ".";
    HistoryFile = "history.txt";
}
