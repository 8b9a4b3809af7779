#pragma once
// TelnetCodec: the Telnet side of an RFC 2217 line (RFC 854, 855 and the
// COM-PORT option of RFC 2217), without any I/O. Bytes from the server go
// in and come out as the line's data and the answers the client owes to the
// server's option commands; the line's data going out comes out escaped. The
// client sends its data binary both ways, asks for the COM-PORT option and
// sets the server's port to 19200 baud, 8 data bits, no parity, 1 stop bit
// and no flow control; each of the five answers must give back exactly what
// was asked, once.
//
//     TelnetCodec codec;
//     send(codec.opening());
//     const TelnetCodec::Decoded in = codec.decode(bytesFromServer);
//     send(in.answers);  deliver(in.data);
//     if (codec.comPort() == TelnetCodec::ComPort::Accepted) send(codec.lineSettings());
//     send(codec.encode(request));

#include <QByteArray>
#include <QString>

#include <array>
#include <utility>

namespace zuk {

class TelnetCodec {
public:
    static constexpr quint32 kBaud = 19200;

    // What the client says first: WILL BINARY, DO BINARY, WILL COM-PORT.
    QByteArray opening();
    // The five COM-PORT commands that set the server's line.
    static QByteArray lineSettings();

    struct Decoded {
        QByteArray data;      // the line's bytes, doubled FF and CR NUL undone
        QByteArray answers;   // Telnet commands to send back, in order
    };
    // Takes the Telnet commands out of bytes from the server; a command cut
    // between two calls is completed by the next.
    Decoded decode(const QByteArray &in);
    // The line's bytes as they go to the server: FF doubled, and a CR
    // followed by NUL while the client's side is not binary.
    QByteArray encode(const QByteArray &data) const;

    // Whether the server has accepted the COM-PORT option (DO) or refused it
    // (DONT); Asked until it says either.
    enum class ComPort { Asked, Accepted, Refused };
    ComPort comPort() const { return comPort_; }
    // All five line settings answered.
    bool settingsAnswered() const;
    // The first answer that differed from what was asked (or came twice), in
    // words; empty while every answer was right.
    QString wrongSetting() const { return settingWrong_; }

    // Back to the state of a new connection.
    void reset();

private:
    void onOption(quint8 verb, quint8 option, QByteArray *answers);
    // One side of an option switched on (WILL, DO) or off (WONT, DONT): the
    // side's agreed and asked tables, and the answers yes and no.
    void onSide(bool on, bool welcome, quint8 option, std::array<bool, 256> &agreed, std::array<bool, 256> &asked,
                std::pair<quint8, quint8> yesNo, QByteArray *answers);
    void onSubnegotiation(const QByteArray &sub);

    enum class Parse { Data, Iac, Verb, Sub, SubIac };
    Parse parse_ = Parse::Data;
    quint8 verb_ = 0;
    bool afterCr_ = false;   // a CR came in while the server's side is not binary
    QByteArray sub_;         // the subnegotiation being read
    // Which options each side has agreed to, and which the client asked for.
    std::array<bool, 256> weDo_{}, theyDo_{}, askedWill_{}, askedDo_{};
    ComPort comPort_ = ComPort::Asked;
    // The line settings by command (1..5): answered by the server.
    std::array<bool, 6> settingAnswered_{};
    QString settingWrong_;
};

}  // namespace zuk
