#include "protocol/frames.h"

namespace zuk::frames {

namespace {

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v & 0xFF));
    return out;
}

// The data field as it goes on the line: put(byte) for every data byte, and
// after a data byte F0 for the escape byte. Returns the sum of every byte put.
template <typename Put>
int putDataField(const RowData &data, std::uint8_t escapeByte, Put put)
{
    int sum = 0;
    for (std::uint8_t d : data) {
        put(d);
        sum += d;
        if (d == kEscapeMark) {
            put(escapeByte);
            sum += escapeByte;
        }
    }
    return sum;
}

// The data field of a reply, from buffer[4]: eight data bytes, each F0 followed
// by an escape byte, whatever it is. Returns the position of the checksum
// after the field, or -1 while the received bytes end before that checksum;
// *data gets the data bytes and *sum the sum of every byte of the field.
int takeDataField(const std::uint8_t *buffer, int received, RowData *data, int *sum)
{
    int p = 4;
    for (std::uint8_t &d : *data) {
        if (p >= received)
            return -1;
        d = buffer[p++];
        *sum += d;
        if (d == kEscapeMark) {
            if (p >= received)
                return -1;
            *sum += buffer[p++];
        }
    }
    return p < received ? p : -1;
}

}  // namespace

std::vector<QByteArray> readRequestPieces(int address, int reg)
{
    const int sum = (address + kReadCommand + reg) % 256;
    return {bytesOf({kRequestStart, address, kReadCommand, reg}), bytesOf({sum})};
}

std::vector<QByteArray> writeRequestPieces(int address, int reg, const RowData &data)
{
    std::vector<QByteArray> pieces;
    pieces.push_back(bytesOf({kRequestStart, address, kWriteCommand, reg}));
    const int sum = address + kWriteCommand + reg
                    + putDataField(data, kEscapeByte, [&](std::uint8_t b) { pieces.push_back(bytesOf({b})); });
    pieces.push_back(bytesOf({sum % 256}));
    return pieces;
}

QByteArray joined(const std::vector<QByteArray> &pieces)
{
    QByteArray out;
    for (const QByteArray &p : pieces)
        out += p;
    return out;
}

QByteArray readReply(int address, int reg, const RowData &data, std::uint8_t escapeByte)
{
    QByteArray out = bytesOf({kReplyStart, address, kReadCommand, reg});
    const int sum = address + kReadCommand + reg
                    + putDataField(data, escapeByte, [&](std::uint8_t b) { out.append(static_cast<char>(b)); });
    out.append(static_cast<char>(sum % 256));
    return out;
}

QByteArray writeReply(int address)
{
    return bytesOf({kReplyStart, address, kWriteAck});
}

bool readReplyComplete(const std::uint8_t *buffer, int received)
{
    // Header (4 bytes), 8 data bytes each followed by its escape byte when it
    // is F0, then the checksum.
    RowData data{};
    int sum = 0;
    return takeDataField(buffer, received, &data, &sum) >= 0;
}

bool writeReplyComplete(const std::uint8_t *, int received)
{
    return received >= 3;
}

namespace {

// The first fault of a reply's start, address and command, as far as they came.
ReplyFault headerFault(const std::uint8_t *buffer, int received, int address, std::uint8_t command)
{
    if (received <= 0)
        return ReplyFault::NoReply;
    if (buffer[0] != kReplyStart)
        return ReplyFault::WrongStart;
    if (received > 1 && buffer[1] != (address & 0xFF))
        return ReplyFault::OtherAddress;
    if (received > 2 && buffer[2] != command)
        return ReplyFault::WrongCommand;
    return ReplyFault::None;
}

}  // namespace

ReplyFault readReplyFault(const std::uint8_t *buffer, int received, int address, int reg, RowData *data)
{
    if (const ReplyFault fault = headerFault(buffer, received, address, kReadCommand); fault != ReplyFault::None)
        return fault;
    if (received > 3 && buffer[3] != (reg & 0xFF))
        return ReplyFault::OtherRegister;
    RowData decoded{};
    int sum = address + kReadCommand + reg;
    const int checksumAt = takeDataField(buffer, received, &decoded, &sum);
    if (checksumAt < 0)
        return ReplyFault::Incomplete;
    if (buffer[checksumAt] != (sum % 256))
        return ReplyFault::BadChecksum;
    if (data)
        *data = decoded;
    return ReplyFault::None;
}

ReplyFault writeReplyFault(const std::uint8_t *buffer, int received, int address)
{
    if (const ReplyFault fault = headerFault(buffer, received, address, kWriteAck); fault != ReplyFault::None)
        return fault;
    return writeReplyComplete(buffer, received) ? ReplyFault::None : ReplyFault::Incomplete;
}

bool judgeReadReply(const std::uint8_t *buffer, int received, int address, int reg, RowData *data)
{
    return readReplyFault(buffer, received, address, reg, data) == ReplyFault::None;
}

}  // namespace zuk::frames
