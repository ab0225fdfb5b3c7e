#include "rs232exchange.h"

#include "devices/rs232.h"
#include "platform/clock.h"

namespace terminal {
namespace {

// One poll: appends what is queued, never beyond the answer limit.
bool pollInto(CRS232& port, QByteArray& answer)
{
    char buf[PollReadMax];
    std::uint32_t got = 0;
    port.Read(got, PollReadMax, buf);
    if (got == 0)
        return false;
    qsizetype room = AnswerLimit - answer.size();
    if (room > 0)
        answer.append(buf, qMin<qsizetype>(room, got));
    return true;
}

} // namespace

QByteArray CutCommand(const QByteArray& command, int terminatorLength)
{
    return command.left(CommandLineLimit - terminatorLength);
}

Rs232Answer Rs232Exchange(CRS232* port, const QByteArray& command, bool noEcho, bool rvx)
{
    Rs232Answer result;
    const QByteArray line = CutCommand(command, 2) + "\r\n";
    if (port) {
        result.sent = noEcho ? port->Write(static_cast<int>(line.size()), line.constData())
                             : port->WriteEchoed(static_cast<unsigned>(line.size()), line.constData());
    }
    if (!result.sent) {
        result.text = NoCommunicationText;
        return result;
    }

    QByteArray answer;
    bool endedAtLineEnd = false;
    for (int idle = 0, polls = 0;;) {
        if (pollInto(*port, answer))
            idle = 0;
        platform::Sleep(AnswerPollMs);
        if (answer.contains("\r\n")) {
            endedAtLineEnd = true;
            break;
        }
        if (++idle >= AnswerPolls || ++polls >= AnswerPollCeiling)
            break;
    }

    // Modules in RVX mode send an acknowledgement line before the answer.
    if (rvx && endedAtLineEnd) {
        answer.remove(0, answer.indexOf("\r\n") + 2);
        for (int polls = 0;;) {
            pollInto(*port, answer);
            platform::Sleep(AnswerPollMs);
            if (answer.contains("\r\n") || ++polls >= RvxAnswerPolls)
                break;
        }
    }

    result.byteCount = static_cast<std::uint32_t>(answer.size());
    qsizetype end = answer.indexOf("\r\n");
    if (end >= 0)
        answer.truncate(end);
    result.text = answer.isEmpty() ? QByteArray(CommandSentText) : answer;
    return result;
}

} // namespace terminal
