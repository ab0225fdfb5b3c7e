#include "ethernetlink.h"

#include "logcolour.h"

#include "platform/errors.h"
#include "scripts/script.h"

#include <algorithm>
#include <exception>

namespace {

constexpr char LineEnd[] = "\r\n";
constexpr std::size_t SleepKeywordLength = 5;
constexpr std::size_t MaxSleepArgument = 100;
constexpr int HighestPort = 65535;

QString textOf(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray bytesOf(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

bool SocketAnswerText::append(QByteArray block)
{
    bool complete = false;
    if (!block.isEmpty() && block.back() == '\0') {
        block.chop(1);
        complete = true;
    }
    const qsizetype added = block.size();
    if (length_ == text_.size()) {
        // Nothing dropped yet: the whole collected text is searched, so a CR at the end
        // of one block and an LF at the start of the next end the answer too.
        text_ += block;
        length_ += added;
        const qsizetype at = text_.indexOf(LineEnd);
        if (at >= 0) {
            text_.remove(at, 2);
            length_ -= 2;
            complete = true;
        }
        droppedCr_ = !complete && text_.size() > MaxLength && text_.back() == '\r';
        if (text_.size() > MaxLength)
            text_.truncate(MaxLength);
        return complete;
    }
    // The kept text is full: only the line end is looked for.
    const bool lineEnd = (droppedCr_ && block.startsWith('\n')) || block.contains(LineEnd);
    length_ += lineEnd ? added - 2 : added;
    if (!block.isEmpty())
        droppedCr_ = !lineEnd && block.back() == '\r';
    return complete || lineEnd;
}

void SocketAnswerText::clear()
{
    text_.clear();
    length_ = 0;
    droppedCr_ = false;
}

QString SocketErrorMessage(platform::SocketErrorEvent kind)
{
    using K = platform::SocketErrorEvent;
    switch (kind) {
    case K::Send: return QStringLiteral("Error: Socket Write failed!");
    case K::Receive: return QStringLiteral("Error: Socket Read failed!");
    case K::Connect: return QStringLiteral("Error: Could not connect to remote host!");
    case K::Disconnect: return QStringLiteral("Error: Connection closed by remote host!");
    case K::Accept: return QStringLiteral("Error: Could not accept connection!");
    case K::Lookup: return QStringLiteral("Error: Could not resolve remote host!");
    case K::General: break;
    }
    return QStringLiteral("Error: Undefined Socket Error!");
}

int TcpPortFromText(const QString& text)
{
    const int port = platform::StrToInt(text);
    if (port < 1 || port > HighestPort)
        throw platform::EConvertError("'" + text.toStdString() + "' is not a valid integer value");
    return port;
}

std::string SleepArgument(const std::string& command)
{
    std::size_t i = SleepKeywordLength;
    while (i < command.size() && (command[i] == ' ' || (command[i] >= '\t' && command[i] <= '\r')))
        ++i;
    return i < command.size() ? command.substr(i, MaxSleepArgument) : std::string();
}

EthernetLink::EthernetLink(QObject* parent) : QObject(parent), sock(new platform::ClientSocket(this))
{
    sock->OnConnect = [this] { sockConnect(); };
    sock->OnDisconnect = [this] { sockDisconnect(); };
    sock->OnRead = [this] { guarded(&EthernetLink::sockRead); };
    sock->OnError = [this](platform::SocketErrorEvent kind, int& code) { sockError(kind, code); };
    sock->OnUnhandledError = [this](const QString& text) { emit errorMessage(text); };
    auto timer = platform::makeTimer();
    timer->setInterval(FirstInterval);
    setTimer(std::move(timer));
}

EthernetLink::~EthernetLink()
{
    // The socket's events must not reach a half-destroyed link.
    sock->OnConnect = nullptr;
    sock->OnDisconnect = nullptr;
    sock->OnRead = nullptr;
    sock->OnError = nullptr;
    sock->OnUnhandledError = nullptr;
}

void EthernetLink::setTimer(std::unique_ptr<platform::Timer> timer)
{
    if (timer_) {
        timer->setInterval(timer_->Interval());
        timer->setEnabled(timer_->Enabled());
        timer_->setEnabled(false);
    }
    timer_ = std::move(timer);
    timSocket = timer_.get();
    timSocket->OnTimer = [this] { guarded(&EthernetLink::timSocketTimer); };
}

void EthernetLink::guarded(void (EthernetLink::*handler)())
{
    // An error ends the handler where it stands; the user sees it and the program goes on.
    try {
        (this->*handler)();
    } catch (const std::exception& e) {
        emit errorMessage(QString::fromLocal8Bit(e.what()));
    }
}

void EthernetLink::init(const QString& address, const QString& port)
{
    if (sock->Active())
        return;
    sock->Address = address;
    sock->Port = TcpPortFromText(port);
}

void EthernetLink::talk()
{
    if (sock->Active())
        timSocket->setEnabled(true);
    else
        sock->Open();
}

void EthernetLink::startScriptWalk()
{
    EthernetScriptActive = true;
    if (!sock->Active()) {
        sock->Open();
        return;
    }
    timSocket->setInterval(LineInterval);
    timSocket->setEnabled(true);
}

void EthernetLink::stopScriptWalk()
{
    EthernetScriptActive = false;
    closeSocket();
}

void EthernetLink::closeSocket()
{
    // Not only a connection that is up: a connect still under way would come up after
    // the user closed the link, and keep its old address and port.
    sock->Close();
}

void EthernetLink::sockConnect()
{
    // Text left from an earlier connection is no part of an answer on this one.
    SocketAnswer.clear();
    emit statusText(QStringLiteral("connected"));
    timSocket->setEnabled(true);
}

void EthernetLink::sockDisconnect()
{
    emit statusText(QStringLiteral("disconnected"));
}

void EthernetLink::sockError(platform::SocketErrorEvent kind, int& errorCode)
{
    emit errorMessage(SocketErrorMessage(kind));
    errorCode = 0;
}

void EthernetLink::timSocketTimer()
{
    timSocket->setEnabled(false);
    timSocket->setInterval(LineInterval);
    if (!EthernetScriptActive) {
        sock->SendText((commandSource_ ? commandSource_() : QByteArray()) + LineEnd);
        return;
    }
    scriptTick();
}

void EthernetLink::scriptTick()
{
    // No script loaded: there is nothing to walk.
    if (ScriptLineCount <= 0)
        return;
    // A shorter script than the last run's starts from its first line.
    if (SocketScriptIndex >= ScriptLineCount || SocketScriptIndex < 0)
        SocketScriptIndex = 0;
    const auto i = static_cast<std::size_t>(SocketScriptIndex);
    const std::string cmd = ScriptCommands[i];
    SocketCommand.clear();
    SocketExpected = bytesOf(ScriptAnswers[i]);

    if (cmd.starts_with("SLEEP")) {
        if (ScriptAnswers[i].empty() && cmd.size() > SleepKeywordLength)
            ScriptAnswers[i] = SleepArgument(cmd);
        const int ms = platform::StrToInt(ScriptAnswers[i]);
        timSocket->setInterval(ms > 0 ? ms : NoPauseInterval);
        advance();
        timSocket->setEnabled(true);
        return;
    }
    if (cmd == "STOP") {
        emit logLine(QStringLiteral("Stopping Script"), LogColour::Black);
        StopScript = true;
        closeSocket();
        advance();
        return;
    }
    if (cmd == "CLEAR") {
        emit logCleared();
        timSocket->setEnabled(true);
        advance();
        return;
    }
    SocketCommand = bytesOf(cmd);
    sock->SendText(SocketCommand + LineEnd);
    if (ScriptAnswers[i].empty()) {
        emit logLine(textOf(SocketCommand), LogColour::Black);
        timSocket->setInterval(SendOnlyInterval);
        timSocket->setEnabled(true);
    }
    advance();
}

void EthernetLink::advance()
{
    ++SocketScriptIndex;
    if (SocketScriptIndex >= ScriptLineCount)
        SocketScriptIndex = 0;
}

void EthernetLink::sockRead()
{
    if (!SocketAnswer.append(sock->ReceiveText()))
        return;
    const QByteArray answer = SocketAnswer.text();
    if (EthernetScriptActive) {
        judge(answer);
    } else {
        emit bytesReceived(SocketAnswer.length());
        sock->Close();
        emit logLine(textOf(answer), LogColour::Black);
    }
    SocketAnswer.clear();
}

void EthernetLink::judge(const QByteArray& answer)
{
    // An invalid expression raises here and leaves the texts as they are.
    const bool passed = CheckAnswer(answer.constData(), SocketExpected.constData());
    if (passed) {
        timSocket->setEnabled(true);
        emit logLine(textOf(SocketCommand) + QLatin1Char('\t') + textOf(answer), LogColour::Black);
    } else {
        emit logLine(QStringLiteral("%1 failed: '%2'").arg(textOf(SocketCommand), textOf(answer)), LogColour::Red);
    }
    SocketCommand.clear();
    SocketExpected.clear();
}
