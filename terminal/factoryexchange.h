#pragma once
// The factory dialog's traffic on the COM link: the combined query with its answer
// read, and a sequence of setting commands with their pauses.
#include "factoryrules.h"

#include <string>
#include <vector>

class CRS232;

namespace terminal {

struct FactoryAnswer {
    bool complete = false; // CR LF came within the 50 polls
    std::string text;      // the answer before its CR LF (empty when not complete)
};

// port may be null (no link): nothing is sent and no answer comes.
FactoryAnswer FactoryQueryExchange(CRS232* port);

// Each line is sent echo-checked, its result ignored, then its pause is made.
void SendFactoryCommands(CRS232* port, const std::vector<FactoryCommand>& commands);

} // namespace terminal
