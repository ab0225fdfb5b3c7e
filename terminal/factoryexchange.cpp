#include "factoryexchange.h"

#include "devices/rs232.h"
#include "platform/clock.h"

namespace terminal {

FactoryAnswer FactoryQueryExchange(CRS232* port)
{
    FactoryAnswer result;
    if (!port)
        return result;
    // A failed echo is not an error here: the read shows whether the module answered.
    (void)port->WriteEchoed(static_cast<unsigned>(FactoryQuery.size()), FactoryQuery.data());

    FactoryAnswerCollector collector;
    char buf[FactoryReadBufferSize];
    for (int k = 0; k < FactoryAnswerPolls; ++k) {
        std::uint32_t got = 0;
        if (port->Read(got, static_cast<std::uint32_t>(collector.room()), buf) && got > 0)
            collector.append(buf, got);
        platform::Sleep(FactoryPollMs);
        if (collector.hasLineEnd()) {
            result.complete = true;
            result.text = collector.answer();
            return result;
        }
    }
    return result;
}

void SendFactoryCommands(CRS232* port, const std::vector<FactoryCommand>& commands)
{
    for (const FactoryCommand& c : commands) {
        // An echo failure cuts this line short; the sequence goes on after the same pause.
        if (port)
            (void)port->WriteEchoed(static_cast<unsigned>(c.line.size()), c.line.data());
        if (c.pauseMs > 0)
            platform::Sleep(c.pauseMs);
    }
}

} // namespace terminal
