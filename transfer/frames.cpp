#include "transfer/frames.h"

namespace zuk::frames {

namespace {

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v & 0xFF));
    return out;
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
    int sum = address + kWriteCommand + reg;
    for (std::uint8_t d : data) {
        pieces.push_back(bytesOf({d}));
        sum += d;
        if (d == kEscapeMark) {
            pieces.push_back(bytesOf({kEscapeByte}));
            sum += kEscapeByte;
        }
    }
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
    int sum = address + kReadCommand + reg;
    for (std::uint8_t d : data) {
        out.append(static_cast<char>(d));
        sum += d;
        if (d == kEscapeMark) {
            out.append(static_cast<char>(escapeByte));
            sum += escapeByte;
        }
    }
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
    int p = 4;
    for (int k = 0; k < 8; ++k) {
        if (p >= received)
            return false;
        p += buffer[p] == kEscapeMark ? 2 : 1;
    }
    return p < received;
}

bool writeReplyComplete(const std::uint8_t *, int received)
{
    return received >= 3;
}

bool judgeReadReply(const std::uint8_t *buffer, int received, int address, int reg, RowData *data)
{
    if (!readReplyComplete(buffer, received))
        return false;
    if (buffer[0] != kReplyStart || buffer[1] != (address & 0xFF) || buffer[2] != kReadCommand
        || buffer[3] != (reg & 0xFF))
        return false;
    int p = 4;
    int sum = address + kReadCommand + reg;
    RowData decoded{};
    for (int k = 0; k < 8; ++k) {
        decoded[k] = buffer[p];
        sum += buffer[p];
        if (buffer[p] == kEscapeMark) {
            ++p;
            sum += buffer[p];
        }
        ++p;
    }
    if (buffer[p] != (sum % 256))
        return false;
    if (data)
        *data = decoded;
    return true;
}

bool judgeWriteReply(const std::uint8_t *buffer, int received, int address)
{
    return writeReplyComplete(buffer, received) && buffer[0] == kReplyStart && buffer[1] == (address & 0xFF)
           && buffer[2] == kWriteAck;
}

}  // namespace zuk::frames
