#pragma once
// A non-blocking TCP client socket with the events the window's handlers expect:
// connect, disconnect, one read event per received block, and errors by kind with
// a code the handler may clear to keep the socket from reporting the error itself.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QTcpSocket;

namespace platform {

enum class SocketErrorEvent { General = 0, Send = 1, Receive = 2, Connect = 3, Disconnect = 4, Accept = 5, Lookup = 6 };

class ClientSocket : public QObject {
    Q_OBJECT
public:
    explicit ClientSocket(QObject* parent = nullptr);
    ~ClientSocket() override;

    QString Address;
    int Port = 0;
    // True from the connect event until the disconnect event.
    bool Active() const { return active_; }

    // Starts connecting and returns at once; the connect or an error event follows.
    void Open();
    // Ends the connection, or the connect under way; the disconnect event follows at
    // once when the connection was up.
    void Close();
    // All bytes in one send; nothing happens while not connected.
    void SendText(const QByteArray& text);
    // Everything queued now, as one block.
    QByteArray ReceiveText();

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    std::function<void()> OnRead;
    // errorCode may be set to 0 to handle the error; otherwise the socket reports it.
    std::function<void(SocketErrorEvent kind, int& errorCode)> OnError;
    // The socket's own report of an error that OnError left standing; the owner shows it.
    std::function<void(const QString& message)> OnUnhandledError;

private:
    void onError();
    void raise(SocketErrorEvent kind, int code);

    QTcpSocket* socket_;
    bool active_ = false;
};

} // namespace platform
