#include "lines/telnet_codec.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace zuk {

namespace {

// Telnet (RFC 854, 855) and its COM-PORT option (RFC 2217).
constexpr quint8 kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr quint8 kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
constexpr quint8 kSetBaudrate = 1, kSetDatasize = 2, kSetParity = 3, kSetStopsize = 4, kSetControl = 5;
constexpr quint8 kServerReply = 100;   // the server answers command c with c + 100
constexpr quint8 kCr = 0x0D;

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

// The settings of one byte each: the value asked for, and how a differing
// answer is named.
struct ByteSetting {
    quint8 command, value;
    const char *name, *asked;
};
constexpr ByteSetting kByteSettings[] = {
    {kSetDatasize, 8, "биты данных", "8"},
    {kSetParity, 1, "чётность", "1 (нет)"},
    {kSetStopsize, 1, "стоповые биты", "1"},
    {kSetControl, 1, "управление потоком", "1 (нет)"},   // no flow control
};

// What differs in the server's answer to command, in words; empty when it
// gives back what was asked.
QString answerFault(int command, const QByteArray &value)
{
    if (command == kSetBaudrate) {
        if (value.size() != 4)
            return QStringLiteral("скорость в %1 байтах вместо 4").arg(value.size());
        quint32 baud = 0;
        for (char c : value)
            baud = (baud << 8) | quint8(c);
        return baud == TelnetCodec::kBaud ? QString()
                                          : QStringLiteral("скорость %1 вместо %2").arg(baud).arg(TelnetCodec::kBaud);
    }
    for (const ByteSetting &s : kByteSettings)
        if (s.command == command && value != bytes({s.value}))
            return QStringLiteral("%1 %2 вместо %3")
                .arg(QString::fromUtf8(s.name),
                     value.size() == 1 ? QString::number(quint8(value[0])) : QStringLiteral("?"),
                     QString::fromUtf8(s.asked));
    return QString();
}

}  // namespace

QByteArray TelnetCodec::opening()
{
    askedWill_[kBinary] = askedDo_[kBinary] = askedWill_[kComPort] = true;
    return bytes({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort});
}

QByteArray TelnetCodec::lineSettings()
{
    QByteArray baud(4, '\0');
    for (int i = 0; i < 4; ++i)
        baud[i] = char((kBaud >> (8 * (3 - i))) & 0xFF);
    QByteArray out = comPortCommand(kSetBaudrate, baud);
    for (const ByteSetting &s : kByteSettings)
        out += comPortCommand(s.command, bytes({s.value}));
    return out;
}

bool TelnetCodec::settingsAnswered() const
{
    return std::all_of(settingAnswered_.begin() + 1, settingAnswered_.end(), [](bool answered) { return answered; });
}

void TelnetCodec::reset()
{
    *this = TelnetCodec();
}

QByteArray TelnetCodec::encode(const QByteArray &data) const
{
    QByteArray out;
    out.reserve(data.size());
    for (char c : data) {
        out.append(c);
        if (quint8(c) == kIac)
            out.append(c);
        else if (quint8(c) == kCr && !weDo_[kBinary])
            out.append('\0');   // a bare CR of a Telnet line without binary transmission
    }
    return out;
}

TelnetCodec::Decoded TelnetCodec::decode(const QByteArray &in)
{
    Decoded out;
    for (char ch : in) {
        const quint8 b = quint8(ch);
        switch (parse_) {
        case Parse::Data:
            if (b == kIac) {
                parse_ = Parse::Iac;
            } else if (afterCr_ && b == 0) {
                afterCr_ = false;   // CR NUL: the CR alone
            } else {
                out.data.append(ch);
                afterCr_ = b == kCr && !theyDo_[kBinary];
            }
            break;
        case Parse::Iac:
            afterCr_ = false;
            if (b == kIac) {
                out.data.append(ch);
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
            onOption(verb_, b, &out.answers);
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
    return out;
}

void TelnetCodec::onOption(quint8 verb, quint8 option, QByteArray *answers)
{
    // Binary transmission and suppressed go-ahead are welcome both ways; the
    // COM-PORT option is ours to offer; everything else (echo above all:
    // the bus must not see its requests come back) is declined.
    const bool welcome = option == kBinary || option == kSuppressGoAhead;
    switch (verb) {
    case kWill:
    case kWont:   // the server's side
        onSide(verb == kWill, welcome, option, theyDo_, askedDo_, {kDo, kDont}, answers);
        break;
    case kDo:
    case kDont:   // ours
        onSide(verb == kDo, welcome || option == kComPort, option, weDo_, askedWill_, {kWill, kWont}, answers);
        if (option == kComPort)
            comPort_ = verb == kDo ? ComPort::Accepted : ComPort::Refused;
        break;
    }
}

void TelnetCodec::onSide(bool on, bool welcome, quint8 option, std::array<bool, 256> &agreed,
                         std::array<bool, 256> &asked, std::pair<quint8, quint8> yesNo, QByteArray *answers)
{
    // An offer or request we asked for ourselves needs no answer; one we did
    // not is agreed to or refused; withdrawing one agreed is confirmed.
    auto answer = [answers, option](quint8 reply) { *answers += bytes({kIac, reply, option}); };
    if (on && welcome && !agreed[option]) {
        agreed[option] = true;
        if (!asked[option])
            answer(yesNo.first);
    } else if (on && !welcome) {
        answer(yesNo.second);
    } else if (!on) {
        if (agreed[option] && !asked[option])
            answer(yesNo.second);
        agreed[option] = false;
    }
    asked[option] = false;
}

void TelnetCodec::onSubnegotiation(const QByteArray &sub)
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
    QString wrong = answerFault(command, sub.mid(2));
    if (settingAnswered_[size_t(command)] && wrong.isEmpty())
        wrong = QStringLiteral("настройка %1 подтверждена дважды").arg(command);
    settingAnswered_[size_t(command)] = true;
    if (settingWrong_.isEmpty())
        settingWrong_ = wrong;
}

}  // namespace zuk
