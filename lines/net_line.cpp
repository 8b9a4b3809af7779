#include "lines/net_line.h"
#include "lines/line_system.h"

#include <QElapsedTimer>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace zuk {

namespace {

constexpr int kBusyLookMs = 150;   // a raw line: how long a busy gateway takes to hang up
constexpr int kBusyPauseMs = 200;  // between tries at a busy gateway

}  // namespace

QString TcpLine::seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

TcpLine::TcpLine(QObject *parent) : BusLine(parent)
{
    connect(&socket_, &QTcpSocket::readyRead, this, &TcpLine::onReadyRead);
    connect(&socket_, &QTcpSocket::bytesWritten, this, &TcpLine::onBytesWritten);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { onGone(QStringLiteral("сервер закрыл соединение")); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            onGone(QStringLiteral("сервер закрыл соединение"));
        else if (error != QAbstractSocket::SocketTimeoutError)
            onGone(QStringLiteral("соединение разорвано (система: %1)").arg(socket_.errorString()));
    });
}

TcpLine::~TcpLine()
{
    close();
}

bool TcpLine::open(const QString &name, QString *reason, const OpenOptions &options)
{
    close();
    name_ = name;
    QString why;
    const QUrl url(name, QUrl::StrictMode);
    if (options.rs485) {
        why = QStringLiteral("--rs485 не нужен для сетевой линии: направление передачи на линии RS-485 "
                             "переключает сам шлюз");
    } else if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || !url.path().isEmpty()
               || !url.userInfo().isEmpty()) {
        why = QStringLiteral("имя сетевой линии задаётся как СХЕМА://УЗЕЛ:ПОРТ, например %1").arg(exampleName());
    } else if (connectUntil(url.host(), url.port(), options, &why)) {
        open_ = true;
        return true;
    }
    if (reason)
        *reason = why;
    socket_.abort();
    return false;
}

bool TcpLine::connectUntil(const QString &host, int port, const OpenOptions &options, QString *reason)
{
    // A gateway that serves one connection at a time hangs up on a new one
    // while it still holds the last (ser2net without kickolduser: a run
    // just ended, the window's line before this one): tried again until
    // the time for opening has passed.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int left = std::max(1, options.connectTimeoutMs - int(clock.elapsed()));
        socket_.connectToHost(host, quint16(port));
        if (!socket_.waitForConnected(left)) {
            *reason = socket_.state() == QAbstractSocket::ConnectingState
                              || socket_.error() == QAbstractSocket::SocketTimeoutError
                          ? QStringLiteral("соединение с %1:%2 не установлено за %3 с")
                                .arg(host)
                                .arg(port)
                                .arg(seconds(options.connectTimeoutMs))
                          : QStringLiteral("соединение с %1:%2 не установлено (система: %3)")
                                .arg(host)
                                .arg(port)
                                .arg(socket_.errorString());
            return false;
        }
        // Each request goes out at once, not held back to join the next.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        const Start start = startLine(std::max(1, options.connectTimeoutMs - int(clock.elapsed())), reason);
        if (start == Start::Open)
            return true;
        close();
        if (start == Start::Failed)
            return false;
        if (clock.elapsed() + kBusyPauseMs >= options.connectTimeoutMs)
            break;
        QThread::msleep(kBusyPauseMs);
    }
    *reason = QStringLiteral("шлюз %1:%2 занят другим соединением: он закрывает каждое новое соединение "
                             "сразу (порт шлюза держит другая программа или прежнее соединение)")
                  .arg(host)
                  .arg(port);
    return false;
}

TcpLine::Start TcpLine::startLine(int, QString *)
{
    // A busy gateway hangs up at once; a free one stays.
    if (!socket_.waitForDisconnected(kBusyLookMs) && socket_.state() == QAbstractSocket::ConnectedState)
        return Start::Open;
    return Start::Busy;
}

void TcpLine::close()
{
    open_ = false;
    requestPending_ = false;
    queued_.clear();
    forgetConnection();
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        // Closed in order, so that the gateway lets the port go at once for
        // the next connection, not after its own time-out.
        socket_.disconnectFromHost();
        if (socket_.state() != QAbstractSocket::UnconnectedState)
            socket_.waitForDisconnected(1000);
    }
    if (socket_.state() != QAbstractSocket::UnconnectedState)
        socket_.abort();
}

void TcpLine::sendNow(const QByteArray &bytes)
{
    if (bytes.isEmpty() || socket_.state() != QAbstractSocket::ConnectedState)
        return;   // the server has gone: its option needs no answer
    socket_.write(bytes);
    socket_.flush();
}

void TcpLine::output(const QByteArray &data)
{
    if (open_)
        queued_ += toConnection(data);
}

void TcpLine::endRequest()
{
    if (!open_)
        return;
    // The whole request in one write: one segment on the wire as a rule,
    // and the gateway passes it on at once.
    requestPending_ = true;
    socket_.write(queued_);
    queued_.clear();
    socket_.flush();
    onBytesWritten();
}

void TcpLine::onBytesWritten()
{
    if (!requestPending_ || socket_.bytesToWrite() > 0)
        return;
    requestPending_ = false;
    reportWritten();
}

void TcpLine::drainInput()
{
    if (!open_)
        return;
    // Bytes the system holds but no receive event has brought yet.
    if (line_system::socketInputWaiting(socket_.socketDescriptor()))
        socket_.waitForReadyRead(0);   // reads them and raises readyRead at once
    if (open_ && socket_.bytesAvailable() > 0)
        onReadyRead();
}

void TcpLine::onReadyRead()
{
    const QByteArray data = fromConnection(socket_.readAll());
    // Whatever comes before the line is open (a server's greeting) is no
    // answer to anything.
    if (open_ && !data.isEmpty())
        deliver(data);
}

void TcpLine::onGone(const QString &reason)
{
    if (!open_)
        return;
    if (socket_.bytesAvailable() > 0)
        onReadyRead();   // what came before the end is still the line's
    open_ = false;
    requestPending_ = false;
    socket_.abort();
    reportLost(reason);
}

}  // namespace zuk
