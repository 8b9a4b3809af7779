#include "transfer/net_line.h"
#include "transfer/line_system.h"

#include <QElapsedTimer>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace zuk {

namespace {

// Telnet (RFC 854, 855) and its COM-PORT option (RFC 2217).
constexpr quint8 kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr quint8 kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
constexpr quint8 kSetBaudrate = 1, kSetDatasize = 2, kSetParity = 3, kSetStopsize = 4, kSetControl = 5;
constexpr quint8 kServerReply = 100;   // the server answers command c with c + 100
constexpr quint8 kCr = 0x0D;
constexpr quint32 kBaud = 19200;
constexpr int kBusyLookMs = 150;   // a raw line: how long a busy gateway takes to hang up
constexpr int kBusyPauseMs = 200;  // between tries at a busy gateway

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray out;
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

QByteArray comPortCommand(quint8 command, const QByteArray &value)
{
    QByteArray out = bytes({kIac, kSb, kComPort, command});
    for (char c : value) {
        out.append(c);
        if (quint8(c) == kIac)
            out.append(c);
    }
    return out + bytes({kIac, kSe});
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

}  // namespace

NetLine::NetLine(Protocol protocol, QObject *parent) : BusLine(parent), protocol_(protocol)
{
    connect(&socket_, &QTcpSocket::readyRead, this, &NetLine::onReadyRead);
    connect(&socket_, &QTcpSocket::bytesWritten, this, &NetLine::onBytesWritten);
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { onGone(QStringLiteral("сервер закрыл соединение")); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            onGone(QStringLiteral("сервер закрыл соединение"));
        else if (error != QAbstractSocket::SocketTimeoutError)
            onGone(QStringLiteral("соединение разорвано (система: %1)").arg(socket_.errorString()));
    });
}

NetLine::~NetLine()
{
    close();
}

bool NetLine::open(const QString &name, QString *reason, const OpenOptions &options)
{
    close();
    name_ = name;
    QString why;
    const QUrl url(name, QUrl::StrictMode);
    const QString example = protocol_ == Protocol::Raw ? QStringLiteral("tcp://10.0.0.7:4001")
                                                       : QStringLiteral("rfc2217://10.0.0.7:4002");
    QElapsedTimer clock;
    clock.start();
    if (options.rs485) {
        why = QStringLiteral("--rs485 не нужен для сетевой линии: направление передачи на линии RS-485 "
                             "переключает сам шлюз");
    } else if (!url.isValid() || url.host().isEmpty() || url.port() <= 0 || !url.path().isEmpty()
               || !url.userInfo().isEmpty()) {
        why = QStringLiteral("имя сетевой линии задаётся как СХЕМА://УЗЕЛ:ПОРТ, например %1").arg(example);
    } else {
        // A gateway that serves one connection at a time hangs up on a new one
        // while it still holds the last (ser2net without kickolduser: a run
        // just ended, the window's line before this one): tried again until
        // the time for opening has passed.
        bool busy = false;
        for (;;) {
            busy = false;
            const int left = std::max(1, options.connectTimeoutMs - int(clock.elapsed()));
            socket_.connectToHost(url.host(), quint16(url.port()));
            if (!socket_.waitForConnected(left)) {
                why = socket_.state() == QAbstractSocket::ConnectingState
                              || socket_.error() == QAbstractSocket::SocketTimeoutError
                          ? QStringLiteral("соединение с %1:%2 не установлено за %3 с")
                                .arg(url.host())
                                .arg(url.port())
                                .arg(seconds(options.connectTimeoutMs))
                          : QStringLiteral("соединение с %1:%2 не установлено (система: %3)")
                                .arg(url.host())
                                .arg(url.port())
                                .arg(socket_.errorString());
                break;
            }
            // Each request goes out at once, not held back to join the next.
            socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
            if (protocol_ == Protocol::Raw) {
                // A busy gateway hangs up at once; a free one stays.
                if (!socket_.waitForDisconnected(kBusyLookMs) && socket_.state() == QAbstractSocket::ConnectedState) {
                    open_ = true;
                    return true;
                }
                busy = true;
            } else if (negotiate(std::max(1, options.connectTimeoutMs - int(clock.elapsed())), &why)) {
                open_ = true;
                return true;
            } else {
                busy = hungUp_;   // hung up during the negotiation
            }
            close();
            if (!busy || clock.elapsed() + kBusyPauseMs >= options.connectTimeoutMs)
                break;
            QThread::msleep(kBusyPauseMs);
        }
        if (busy)
            why = QStringLiteral("шлюз %1:%2 занят другим соединением: он закрывает каждое новое соединение "
                                 "сразу (порт шлюза держит другая программа или прежнее соединение)")
                      .arg(url.host())
                      .arg(url.port());
    }
    if (reason)
        *reason = why;
    socket_.abort();
    return false;
}

bool NetLine::negotiate(int timeoutMs, QString *reason)
{
    // We send the data binary both ways and ask for the COM-PORT option;
    // the server's own offers are answered as they come (onOption).
    hungUp_ = false;
    askedWill_[kBinary] = askedDo_[kBinary] = askedWill_[kComPort] = true;
    sendCommand(bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort}));
    QElapsedTimer clock;
    clock.start();
    bool settingsSent = false;
    for (;;) {
        if (comPort_ == ComPort::Refused) {
            *reason = QStringLiteral("сервер не принял COM-PORT-OPTION (RFC 2217), скорость и формат линии не "
                                     "заданы; прозрачный TCP-порт открывается как tcp://");
            return false;
        }
        if (comPort_ == ComPort::Accepted && !settingsSent) {
            QByteArray baud(4, '\0');
            for (int i = 0; i < 4; ++i)
                baud[i] = char((kBaud >> (8 * (3 - i))) & 0xFF);
            sendCommand(comPortCommand(kSetBaudrate, baud) + comPortCommand(kSetDatasize, bytes({8}))
                        + comPortCommand(kSetParity, bytes({1}))       // none
                        + comPortCommand(kSetStopsize, bytes({1}))     // 1
                        + comPortCommand(kSetControl, bytes({1})));    // no flow control
            settingsSent = true;
        }
        if (settingsSent && !settingWrong_.isEmpty()) {
            *reason = QStringLiteral("сервер подтвердил не те настройки линии (RFC 2217): ") + settingWrong_;
            return false;
        }
        if (settingsSent
            && std::all_of(settingAnswered_.begin() + 1, settingAnswered_.end(), [](bool answered) { return answered; }))
            return true;
        const int left = timeoutMs - int(clock.elapsed());
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            *reason = QStringLiteral("сервер закрыл соединение во время согласования RFC 2217");
            hungUp_ = true;
            return false;
        }
        if (left <= 0 || !socket_.waitForReadyRead(left)) {
            if (socket_.state() != QAbstractSocket::ConnectedState)
                continue;   // said above
            *reason = comPort_ == ComPort::Asked
                          ? QStringLiteral("сервер не ответил на COM-PORT-OPTION (RFC 2217) за %1 с").arg(seconds(timeoutMs))
                          : QStringLiteral("сервер не подтвердил скорость и формат линии (RFC 2217) за %1 с")
                                .arg(seconds(timeoutMs));
            return false;
        }
    }
}

void NetLine::close()
{
    open_ = false;
    requestPending_ = false;
    queued_.clear();
    parse_ = Parse::Data;
    afterCr_ = false;
    sub_.clear();
    weDo_.fill(false);
    theyDo_.fill(false);
    askedWill_.fill(false);
    askedDo_.fill(false);
    comPort_ = ComPort::Asked;
    settingAnswered_.fill(false);
    settingWrong_.clear();
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

void NetLine::sendCommand(const QByteArray &command)
{
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return;   // the server has gone: its option needs no answer
    socket_.write(command);
    socket_.flush();
}

void NetLine::output(const QByteArray &data)
{
    if (!open_)
        return;
    if (protocol_ == Protocol::Raw) {
        queued_ += data;
        return;
    }
    for (char c : data) {
        queued_.append(c);
        if (quint8(c) == kIac)
            queued_.append(c);
        else if (quint8(c) == kCr && !weDo_[kBinary])
            queued_.append('\0');   // a bare CR of a Telnet line without binary transmission
    }
}

void NetLine::endRequest()
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

void NetLine::onBytesWritten()
{
    if (!requestPending_ || socket_.bytesToWrite() > 0)
        return;
    requestPending_ = false;
    reportWritten();
}

void NetLine::drainInput()
{
    if (!open_)
        return;
    // Bytes the system holds but no receive event has brought yet.
    if (line_system::socketInputWaiting(socket_.socketDescriptor()))
        socket_.waitForReadyRead(0);   // reads them and raises readyRead at once
    if (open_ && socket_.bytesAvailable() > 0)
        onReadyRead();
}

void NetLine::onReadyRead()
{
    const QByteArray in = socket_.readAll();
    const QByteArray data = protocol_ == Protocol::Raw ? in : fromServer(in);
    // Whatever comes before the line is open (a server's greeting) is no
    // answer to anything.
    if (open_ && !data.isEmpty())
        deliver(data);
}

QByteArray NetLine::fromServer(const QByteArray &in)
{
    QByteArray data;
    for (char ch : in) {
        const quint8 b = quint8(ch);
        switch (parse_) {
        case Parse::Data:
            if (b == kIac) {
                parse_ = Parse::Iac;
            } else if (afterCr_ && b == 0) {
                afterCr_ = false;   // CR NUL: the CR alone
            } else {
                data.append(ch);
                afterCr_ = b == kCr && !theyDo_[kBinary];
            }
            break;
        case Parse::Iac:
            afterCr_ = false;
            if (b == kIac) {
                data.append(ch);
                parse_ = Parse::Data;
            } else if (b >= kWill && b <= kDont) {
                verb_ = b;
                parse_ = Parse::Verb;
            } else if (b == kSb) {
                sub_.clear();
                parse_ = Parse::Sub;
            } else {
                parse_ = Parse::Data;   // NOP, go-ahead, data mark and the like: nothing for the line
            }
            break;
        case Parse::Verb:
            parse_ = Parse::Data;
            onOption(verb_, b);
            break;
        case Parse::Sub:
            if (b == kIac)
                parse_ = Parse::SubIac;
            else
                sub_.append(ch);
            break;
        case Parse::SubIac:
            if (b == kIac) {
                sub_.append(ch);
                parse_ = Parse::Sub;
            } else {   // SE, or a broken subnegotiation that ends here all the same
                parse_ = Parse::Data;
                onSubnegotiation(sub_);
            }
            break;
        }
    }
    return data;
}

void NetLine::onOption(quint8 verb, quint8 option)
{
    // Binary transmission and suppressed go-ahead are welcome both ways; the
    // COM-PORT option is ours to offer; everything else (echo above all:
    // the bus must not see its requests come back) is declined.
    const bool welcome = option == kBinary || option == kSuppressGoAhead;
    switch (verb) {
    case kWill:
        if (welcome && !theyDo_[option]) {
            theyDo_[option] = true;
            if (!askedDo_[option])
                sendCommand(bytes({kIac, kDo, option}));
        } else if (!welcome) {
            sendCommand(bytes({kIac, kDont, option}));
        }
        askedDo_[option] = false;
        break;
    case kWont:
        if (theyDo_[option] && !askedDo_[option])
            sendCommand(bytes({kIac, kDont, option}));
        theyDo_[option] = false;
        askedDo_[option] = false;
        break;
    case kDo:
        if ((welcome || option == kComPort) && !weDo_[option]) {
            weDo_[option] = true;
            if (!askedWill_[option])
                sendCommand(bytes({kIac, kWill, option}));
        } else if (!welcome && option != kComPort) {
            sendCommand(bytes({kIac, kWont, option}));
        }
        askedWill_[option] = false;
        if (option == kComPort)
            comPort_ = ComPort::Accepted;
        break;
    case kDont:
        if (weDo_[option] && !askedWill_[option])
            sendCommand(bytes({kIac, kWont, option}));
        weDo_[option] = false;
        askedWill_[option] = false;
        if (option == kComPort)
            comPort_ = ComPort::Refused;
        break;
    }
}

void NetLine::onSubnegotiation(const QByteArray &sub)
{
    // The server's answers to the line settings; its notices of line and
    // modem state are not the line's data and change nothing here.
    if (sub.size() < 2 || quint8(sub[0]) != kComPort)
        return;
    const int command = quint8(sub[1]) - kServerReply;
    if (command < kSetBaudrate || command > kSetControl)
        return;
    // Each answer must give back exactly what was asked; the first one that
    // does not is named.
    const QByteArray value = sub.mid(2);
    QString wrong;
    switch (command) {
    case kSetBaudrate:
        if (value.size() != 4) {
            wrong = QStringLiteral("скорость в %1 байтах вместо 4").arg(value.size());
        } else {
            quint32 baud = 0;
            for (char c : value)
                baud = (baud << 8) | quint8(c);
            if (baud != kBaud)
                wrong = QStringLiteral("скорость %1 вместо %2").arg(baud).arg(kBaud);
        }
        break;
    case kSetDatasize:
        if (value != bytes({8}))
            wrong = QStringLiteral("биты данных %1 вместо 8").arg(value.size() == 1 ? QString::number(quint8(value[0])) : QStringLiteral("?"));
        break;
    case kSetParity:
        if (value != bytes({1}))
            wrong = QStringLiteral("чётность %1 вместо 1 (нет)").arg(value.size() == 1 ? QString::number(quint8(value[0])) : QStringLiteral("?"));
        break;
    case kSetStopsize:
        if (value != bytes({1}))
            wrong = QStringLiteral("стоповые биты %1 вместо 1").arg(value.size() == 1 ? QString::number(quint8(value[0])) : QStringLiteral("?"));
        break;
    case kSetControl:
        if (value != bytes({1}))
            wrong = QStringLiteral("управление потоком %1 вместо 1 (нет)").arg(value.size() == 1 ? QString::number(quint8(value[0])) : QStringLiteral("?"));
        break;
    }
    if (settingAnswered_[size_t(command)] && wrong.isEmpty())
        wrong = QStringLiteral("настройка %1 подтверждена дважды").arg(command);
    settingAnswered_[size_t(command)] = true;
    if (settingWrong_.isEmpty())
        settingWrong_ = wrong;
}

void NetLine::onGone(const QString &reason)
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
