#pragma once
// The Ethernet link: the client socket, the socket timer and the script walk over TCP.
// Everything runs on the GUI thread, driven by the timer and the socket's events; what
// the user should see goes out through the signals, and the window shows it.
#include "platform/clientsocket.h"
#include "platform/timer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

// The text received since the last complete answer. An answer ends at the first CR LF,
// also when the CR ends one block and the LF begins the next, or at a NUL that ends a
// block. At most MaxLength bytes are kept: a peer that never ends its answer cannot
// take memory without limit; what comes beyond is dropped but still ends the answer.
class SocketAnswerText {
public:
    static constexpr qsizetype MaxLength = 65536;

    // Appends one received block; true when the answer is complete.
    bool append(QByteArray block);
    // The answer as kept (at most MaxLength bytes).
    const QByteArray& text() const { return text_; }
    // Characters received for it, dropped ones included (CR LF and NUL not counted).
    qint64 length() const { return length_; }
    void clear();

private:
    QByteArray text_;
    qint64 length_ = 0;
    bool droppedCr_ = false; // the last byte received was a CR that was not kept
};

// The message for a socket error kind.
QString SocketErrorMessage(platform::SocketErrorEvent kind);

// The TCP port typed into the port field: a whole number from 1 to 65535; anything
// else raises the number conversion's error.
int TcpPortFromText(const QString& text);

// A SLEEP command's argument: the text after the keyword, leading white space skipped,
// at most 100 characters.
std::string SleepArgument(const std::string& command);

class EthernetLink : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstInterval = 10;
    static constexpr int LineInterval = 20;
    static constexpr int SendOnlyInterval = 100;
    // A SLEEP of 0 or below goes on after the shortest tick.
    static constexpr int NoPauseInterval = 1;

    explicit EthernetLink(QObject* parent = nullptr);
    ~EthernetLink() override;

    platform::ClientSocket* sock;
    platform::Timer* timSocket;

    // True while the timer and the read event walk the script table.
    bool EthernetScriptActive = false;
    QByteArray SocketCommand;
    QByteArray SocketExpected;
    SocketAnswerText SocketAnswer;
    std::int32_t SocketScriptIndex = 0;

    // The interactive command, read when the tick sends it.
    void setCommandSource(std::function<QByteArray()> source) { commandSource_ = std::move(source); }
    // Replaces the socket timer (tests step it by hand); keeps its state.
    void setTimer(std::unique_ptr<platform::Timer> timer);

    // Address and port for the next connection; an open connection keeps its own.
    void init(const QString& address, const QString& port);
    // Interactive Talk: the next tick sends the command, after a connect if needed.
    void talk();
    // Run Script, once the table is loaded and StopScript cleared.
    void startScriptWalk();
    // Stop Script: the walk ends and the connection closes.
    void stopScriptWalk();
    // Ends the connection in any state, a connect under way included.
    void closeSocket();

    void sockConnect();
    void sockDisconnect();
    void sockRead();
    void sockError(platform::SocketErrorEvent kind, int& errorCode);
    void timSocketTimer();

signals:
    void logLine(const QString& text, std::uint32_t colour);
    void logCleared();
    void bytesReceived(qint64 count);
    void statusText(const QString& text);
    // A message box for the user: socket errors, and errors raised inside a tick or a
    // socket event, which end that handler where it stands.
    void errorMessage(const QString& text);

private:
    void scriptTick();
    void advance();
    void judge(const QByteArray& answer);
    void guarded(void (EthernetLink::*handler)());

    std::unique_ptr<platform::Timer> timer_;
    std::function<QByteArray()> commandSource_;
};
