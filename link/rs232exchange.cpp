#include "rs232exchange.h"

#include "devices/rs232.h"
#include "platform/clock.h"

#include <algorithm>

namespace links {

bool PollAnswer(CRS232& port, std::string& answer)
{
    char buf[PollReadMax];
    std::uint32_t got = 0;
    port.Read(got, PollReadMax, buf);
    if (got == 0)
        return false;
    const std::size_t room = AnswerLimit - std::min<std::size_t>(answer.size(), AnswerLimit);
    answer.append(buf, std::min<std::size_t>(room, got));
    return true;
}

std::string CutCommand(const std::string& command, int terminatorLength)
{
    return command.substr(0, static_cast<std::size_t>(CommandLineLimit - terminatorLength));
}

Rs232Answer Rs232Exchange(CRS232* port, const std::string& command, bool noEcho, bool rvx)
{
    Rs232Answer result;
    const std::string line = CutCommand(command, 2) + "\r\n";
    if (port) {
        result.sent = noEcho ? port->Write(static_cast<int>(line.size()), line.data())
                             : port->WriteEchoed(static_cast<unsigned>(line.size()), line.data());
    }
    if (!result.sent) {
        result.text = NoCommunicationText;
        return result;
    }

    std::string answer;
    bool endedAtLineEnd = false;
    for (int idle = 0, polls = 0;;) {
        if (PollAnswer(*port, answer))
            idle = 0;
        platform::Sleep(AnswerPollMs);
        if (answer.find("\r\n") != std::string::npos) {
            endedAtLineEnd = true;
            break;
        }
        if (++idle >= AnswerPolls || ++polls >= AnswerPollCeiling)
            break;
    }

    // Modules in RVX mode send an acknowledgement line before the answer.
    if (rvx && endedAtLineEnd) {
        answer.erase(0, answer.find("\r\n") + 2);
        for (int polls = 0;;) {
            PollAnswer(*port, answer);
            platform::Sleep(AnswerPollMs);
            if (answer.find("\r\n") != std::string::npos || ++polls >= RvxAnswerPolls)
                break;
        }
    }

    result.byteCount = static_cast<std::uint32_t>(answer.size());
    const std::size_t end = answer.find("\r\n");
    if (end != std::string::npos)
        answer.resize(end);
    result.text = answer.empty() ? std::string(CommandSentText) : answer;
    return result;
}

} // namespace links
