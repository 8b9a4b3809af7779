#pragma once
// Frames of the serial register protocol. One exchange moves one register row
// of 8 bytes. Requests start with F0, replies with F8. Inside the data field a
// byte F0 is followed by one escape byte (the tool sends 11; in a reply the
// byte after a data byte F0 is skipped whatever it is). The checksum is the
// sum, modulo 256, of every byte after the start byte and before the checksum,
// escape bytes included.

#include <QByteArray>
#include <array>
#include <cstdint>
#include <vector>

namespace zuk::frames {

inline constexpr std::uint8_t kRequestStart = 0xF0;
inline constexpr std::uint8_t kReplyStart = 0xF8;
inline constexpr std::uint8_t kReadCommand = 0x07;
inline constexpr std::uint8_t kWriteCommand = 0x08;
inline constexpr std::uint8_t kWriteAck = 0x01;
inline constexpr std::uint8_t kEscapeMark = 0xF0;   // a data byte with this value is escaped
inline constexpr std::uint8_t kEscapeByte = 0x11;   // what the tool sends after it

using RowData = std::array<std::uint8_t, 8>;

// Each element is one assignment to the port's output, in the order sent:
// read: F0 A 07 R, then the checksum;
// write: F0 A 08 R, then every data byte and every escape byte on its own,
// then the checksum.
std::vector<QByteArray> readRequestPieces(int address, int reg);
std::vector<QByteArray> writeRequestPieces(int address, int reg, const RowData &data);
QByteArray joined(const std::vector<QByteArray> &pieces);

// Frames as a controller sends them.
QByteArray readReply(int address, int reg, const RowData &data, std::uint8_t escapeByte = 0x00);
QByteArray writeReply(int address);

// Judgement of a collected reply. buffer[0] is the first byte received in
// this exchange; received is how many bytes of the exchange were stored.
// Only bytes of the exchange itself count: a reply whose bytes did not all
// arrive fails, whatever an earlier exchange left behind them.
bool judgeReadReply(const std::uint8_t *buffer, int received, int address, int reg, RowData *data);

// What the judges above find wrong with a reply, the first fault in the
// order of its bytes: nothing came, a wrong start byte, another address, a
// wrong command, another register (reads), the reply ends early, the
// checksum (reads). None when the judge accepts it.
enum class ReplyFault { None, NoReply, WrongStart, OtherAddress, WrongCommand, OtherRegister, Incomplete, BadChecksum };
ReplyFault readReplyFault(const std::uint8_t *buffer, int received, int address, int reg, RowData *data = nullptr);
ReplyFault writeReplyFault(const std::uint8_t *buffer, int received, int address);

// Whether the bytes collected so far hold a whole reply, so that nothing
// more of it can come: a read reply is complete with its checksum (13 bytes
// plus one per escaped data byte), an acknowledgement with its 3 bytes.
// Completeness says nothing about rightness; the judges above decide that,
// and they find the end of a reply by the same walk, so both ways of waiting
// judge alike.
bool readReplyComplete(const std::uint8_t *buffer, int received);
bool writeReplyComplete(const std::uint8_t *buffer, int received);

}  // namespace zuk::frames
