#include "clientsocket.h"

#include <QTcpSocket>
#include <cerrno>

namespace platform {
namespace {

int errorCodeOf(QAbstractSocket::SocketError e)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::NetworkError: return ENETUNREACH;
    default: return EIO;
    }
}

} // namespace

ClientSocket::ClientSocket(QObject* parent) : QObject(parent), socket_(new QTcpSocket(this))
{
    connect(socket_, &QTcpSocket::connected, this, [this] {
        active_ = true;
        if (OnConnect)
            OnConnect();
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        if (!active_)
            return;
        active_ = false;
        if (OnDisconnect)
            OnDisconnect();
    });
    connect(socket_, &QTcpSocket::readyRead, this, [this] {
        if (OnRead)
            OnRead();
    });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] { onError(); });
}

ClientSocket::~ClientSocket()
{
    socket_->disconnect(this);
    socket_->abort();
}

void ClientSocket::Open()
{
    if (socket_->state() != QAbstractSocket::UnconnectedState)
        return;
    socket_->connectToHost(Address, static_cast<quint16>(Port));
}

void ClientSocket::Close()
{
    socket_->abort();
    if (active_) {
        active_ = false;
        if (OnDisconnect)
            OnDisconnect();
    }
}

void ClientSocket::SendText(const QByteArray& text)
{
    if (!active_ || text.isEmpty())
        return;
    if (socket_->write(text) < 0) {
        raise(SocketErrorEvent::Send, EIO);
        Close();
    }
}

QByteArray ClientSocket::ReceiveText()
{
    return socket_->readAll();
}

void ClientSocket::onError()
{
    const auto error = socket_->error();
    if (error == QAbstractSocket::RemoteHostClosedError)
        return; // an orderly close by the peer: the disconnect event says it
    SocketErrorEvent kind = SocketErrorEvent::General;
    if (error == QAbstractSocket::HostNotFoundError)
        kind = SocketErrorEvent::Lookup;
    else if (!active_)
        kind = SocketErrorEvent::Connect;
    else
        kind = SocketErrorEvent::Receive;
    raise(kind, errorCodeOf(error));
    if (kind == SocketErrorEvent::Receive)
        Close();
}

void ClientSocket::raise(SocketErrorEvent kind, int code)
{
    if (OnError)
        OnError(kind, code);
    // Not handled: handed to the owner rather than thrown through the socket's own code.
    if (code != 0 && OnUnhandledError)
        OnUnhandledError(QStringLiteral("Socket error %1 (%2)").arg(code).arg(socket_->errorString()));
}

} // namespace platform
