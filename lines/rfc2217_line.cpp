#include "lines/rfc2217_line.h"

#include <QElapsedTimer>

namespace zuk {

QByteArray Rfc2217Line::fromConnection(const QByteArray &bytes)
{
    const TelnetCodec::Decoded in = codec_.decode(bytes);
    sendNow(in.answers);
    return in.data;
}

TcpLine::Start Rfc2217Line::startLine(int timeoutMs, QString *reason)
{
    // We send the data binary both ways and ask for the COM-PORT option;
    // the server's own offers are answered as they come (fromConnection).
    sendNow(codec_.opening());
    QElapsedTimer clock;
    clock.start();
    bool settingsSent = false;
    for (;;) {
        if (codec_.comPort() == TelnetCodec::ComPort::Refused) {
            *reason = QStringLiteral("сервер не принял COM-PORT-OPTION (RFC 2217), скорость и формат линии не "
                                     "заданы; прозрачный TCP-порт открывается как tcp://");
            return Start::Failed;
        }
        if (codec_.comPort() == TelnetCodec::ComPort::Accepted && !settingsSent) {
            sendNow(TelnetCodec::lineSettings());
            settingsSent = true;
        }
        if (settingsSent && !codec_.wrongSetting().isEmpty()) {
            *reason = QStringLiteral("сервер подтвердил не те настройки линии (RFC 2217): ") + codec_.wrongSetting();
            return Start::Failed;
        }
        if (settingsSent && codec_.settingsAnswered())
            return Start::Open;
        const int left = timeoutMs - int(clock.elapsed());
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            *reason = QStringLiteral("сервер закрыл соединение во время согласования RFC 2217");
            return Start::Busy;
        }
        if (left <= 0 || !socket_.waitForReadyRead(left)) {
            if (socket_.state() != QAbstractSocket::ConnectedState)
                continue;   // said above
            *reason = codec_.comPort() == TelnetCodec::ComPort::Asked
                          ? QStringLiteral("сервер не ответил на COM-PORT-OPTION (RFC 2217) за %1 с").arg(seconds(timeoutMs))
                          : QStringLiteral("сервер не подтвердил скорость и формат линии (RFC 2217) за %1 с")
                                .arg(seconds(timeoutMs));
            return Start::Failed;
        }
    }
}

}  // namespace zuk
