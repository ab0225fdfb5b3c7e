#include "globals.h"

TfrmMain* frmMain = nullptr;
TfrmFactory* frmFactory = nullptr;
terminal::Link ActiveLink;
bool EthernetScriptActive = false;
bool FactoryMode = false;
QString ScriptFolder = ".";
QString FirmwareFolder = ".";
QString HistoryFile = "history.txt";
QString SocketCommand;
QString SocketExpected;

void ResetMainUnitGlobals()
{
    ActiveLink.reset();
    EthernetScriptActive = false;
    FactoryMode = false;
    ScriptFolder = ".";
    FirmwareFolder = ".";
    HistoryFile = "history.txt";
    SocketCommand.clear();
    SocketExpected.clear();
}
