#pragma once
// The simulated installation: the register memory of the twenty controllers,
// the parser of the request stream coming from the tool, and the controllers'
// answers, with the faults that real buses show.

#include "common/image_file.h"
#include "protocol/frames.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <vector>

namespace zuk::sim {

// One complete request as it came over the line.
struct Request {
    enum class Kind { Read, Write };
    Kind kind = Kind::Read;
    int address = 0;
    int reg = 0;
    frames::RowData data{};   // writes only
    bool checksumOk = false;
    QByteArray wire;           // the bytes exactly as received, escapes included
};

// Cuts the byte stream from the tool into requests. Bytes outside a frame
// are skipped until the next F0. Inside the header a byte that cannot be
// there (F0 as address or register, a command other than 07 or 08) starts
// over: F0 begins a new frame, anything else drops back to the hunt. In the
// data of a write the byte after each F0 is the escape byte, whatever it is.
// A frame whose checksum is wrong is still reported (checksumOk false); when
// that wrong checksum byte is F0 it begins the next frame. A frame left
// incomplete for kStaleMs is dropped.
class RequestParser {
public:
    static constexpr qint64 kStaleMs = 200;

    void feed(const QByteArray &bytes, qint64 nowMs, std::vector<Request> *out);
    bool inFrame() const { return stage_ != Stage::Hunt; }

private:
    enum class Stage { Hunt, Address, Command, Register, Data, Escape, Checksum };
    void begin(std::uint8_t startByte);

    Stage stage_ = Stage::Hunt;
    Request cur_;
    int sum_ = 0;
    int dataCount_ = 0;
    qint64 lastByteMs_ = 0;
};

enum class FaultKind { Silent, Late, BadSum, OtherAddr, Pieces, Garbage, Fail, NoStore, BadEcho, DupAck };

// Gap between the two acknowledgements of "dupack" without /PARAM.
inline constexpr int kDupAckDefaultMs = 30;

// ADDR[:ROW[:ATTEMPTS]]=KIND[/PARAM]
struct Fault {
    int address = 0;
    int row = -1;        // -1: every row
    int attempts = -1;   // requests per row the fault applies to; -1: all of them
    FaultKind kind = FaultKind::Silent;
    int param = 0;       // late: ms; pieces: bytes per piece; fail: failed attempts;
                         // dupack: ms from the first acknowledgement to the second
};

// Parses a comma-separated list of fault specifications, appending to *out.
bool parseFaults(const QString &text, std::vector<Fault> *out, QString *error);

// Whether the memory can be saved at path when the simulator ends: checked at
// start, so that a wrong --save is not found only after a whole session.
bool checkSavePath(const QString &path, QString *error);

// Parses a list of bus addresses ("00,07,80", "all" or "none") into a
// presence table. Every address must belong to a controller of the map.
bool parsePresence(const QString &text, std::array<bool, kSlotCount> *present, QString *error);

// One piece of an answer: bytes to send delayMs after the request arrived.
struct Delivery {
    qint64 delayMs = 0;
    QByteArray bytes;
};

inline constexpr int kPieceGapMs = 20;                 // gap between pieces of a reply
inline constexpr std::uint8_t kGarbageByte = 0x3C;     // sent before a reply by "garbage"

// The answers waiting to go out on the line. Answers leave in the order of
// the requests they answer: one that is due never overtakes an earlier one
// still waiting (a late answer holds back those behind it, which keep their
// own gaps between pieces).
class OutputQueue {
public:
    // Times in microseconds; the answer's delays are milliseconds after the
    // request (requestUs).
    void add(qint64 requestUs, const std::vector<Delivery> &answer);
    bool empty() const { return pieces_.empty(); }
    qint64 nextUs() const { return pieces_.front().first; }
    // Removes and returns the bytes due at nowUs, in order.
    QByteArray takeDue(qint64 nowUs);

private:
    std::deque<std::pair<qint64, QByteArray>> pieces_;   // (when due, bytes)
};

// One direction of a serial line of a given speed, 10 bits a byte (8N1):
// bytes handed over go through one after another, each taking its time.
// Times in microseconds.
class LinePace {
public:
    explicit LinePace(int baud) : byteUs_(10'000'000.0 / baud) {}
    // When the last bit of a byte handed to the line at tUs has arrived.
    qint64 pass(qint64 tUs)
    {
        free_ = std::max(free_, double(tUs)) + byteUs_;
        return qint64(free_ + 0.5);
    }

private:
    double byteUs_;
    double free_ = 0;
};

class Installation {
public:
    Installation();

    // Loads the memory from an image file; values must be bytes 0..255.
    bool loadImage(const QString &path, QString *error);
    // Presence by marker: slots whose byte 0 of row 0 is not 0.
    void presenceFromMarkers();

    // Random faults at the given rate (0..1) for every answered request;
    // lateMs is the delay of a late answer and the gap of a duplicated
    // acknowledgement.
    void setRandomFaults(quint32 seed, double rate, int lateMs);

    // What the controllers answer to one request (empty: no answer). A
    // write that is answered is applied to the memory first.
    // *spoilEcho, when given, tells whether a fault wants the echo of this
    // request spoilt (a collision on a half-duplex line).
    std::vector<Delivery> answer(const Request &req, bool *spoilEcho = nullptr);

    RegisterImage memory{};
    std::array<bool, kSlotCount> present{};
    std::vector<Fault> faults;
    int randomFaultsInjected = 0;   // answers given a random fault so far
    int listedFaultsApplied = 0;    // requests that a fault of the list shaped so far

private:
    std::map<std::pair<size_t, int>, int> seen_;   // (fault, row) -> matching requests so far
    std::optional<std::mt19937> rng_;
    double rate_ = 0;
    int lateMs_ = 500;
};

// "F0 80 07 03 8A"
QString hexLine(const QByteArray &bytes);

}  // namespace zuk::sim
