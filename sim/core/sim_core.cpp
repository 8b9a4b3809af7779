#include "sim/core/sim_core.h"

#include <QFileInfo>
#include <QStringList>

namespace zuk::sim {

using frames::kEscapeMark;
using frames::kReadCommand;
using frames::kRequestStart;
using frames::kWriteCommand;

// ---------------------------------------------------------------- parser

void RequestParser::begin(std::uint8_t startByte)
{
    cur_ = Request{};
    cur_.wire.append(static_cast<char>(startByte));
    sum_ = 0;
    dataCount_ = 0;
    stage_ = Stage::Address;
}

void RequestParser::feed(const QByteArray &bytes, qint64 nowMs, std::vector<Request> *out)
{
    if (stage_ != Stage::Hunt && !bytes.isEmpty() && nowMs - lastByteMs_ > kStaleMs)
        stage_ = Stage::Hunt;
    if (!bytes.isEmpty())
        lastByteMs_ = nowMs;

    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        switch (stage_) {
        case Stage::Hunt:
            if (b == kRequestStart)
                begin(b);
            break;
        case Stage::Address:
            if (b == kRequestStart) {
                begin(b);
                break;
            }
            cur_.wire.append(c);
            cur_.address = b;
            sum_ = b;
            stage_ = Stage::Command;
            break;
        case Stage::Command:
            if (b == kReadCommand || b == kWriteCommand) {
                cur_.wire.append(c);
                cur_.kind = b == kReadCommand ? Request::Kind::Read : Request::Kind::Write;
                sum_ += b;
                stage_ = Stage::Register;
            } else if (b == kRequestStart) {
                begin(b);
            } else {
                stage_ = Stage::Hunt;
            }
            break;
        case Stage::Register:
            if (b == kRequestStart) {
                begin(b);
                break;
            }
            cur_.wire.append(c);
            cur_.reg = b;
            sum_ += b;
            stage_ = cur_.kind == Request::Kind::Read ? Stage::Checksum : Stage::Data;
            break;
        case Stage::Data:
            cur_.wire.append(c);
            cur_.data[dataCount_] = b;
            sum_ += b;
            if (b == kEscapeMark) {
                stage_ = Stage::Escape;
            } else if (++dataCount_ == 8) {
                stage_ = Stage::Checksum;
            }
            break;
        case Stage::Escape:
            cur_.wire.append(c);
            sum_ += b;
            stage_ = ++dataCount_ == 8 ? Stage::Checksum : Stage::Data;
            break;
        case Stage::Checksum: {
            cur_.wire.append(c);
            cur_.checksumOk = b == (sum_ & 0xFF);
            out->push_back(cur_);
            stage_ = Stage::Hunt;
            if (!cur_.checksumOk && b == kRequestStart)
                begin(b);
            break;
        }
        }
    }
}

// ---------------------------------------------------------------- options

namespace {

bool parseHexByte(const QString &text, int *out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 16);
    if (!ok || v < 0 || v > 255 || text.trimmed().isEmpty())
        return false;
    *out = v;
    return true;
}

bool parseCount(const QString &text, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < 0)
        return false;
    *out = v;
    return true;
}

bool parseOneFault(const QString &faultText, Fault *f, QString *error)
{
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("bad fault \"%1\": %2").arg(faultText, why);
        return false;
    };
    const qsizetype eq = faultText.indexOf(QLatin1Char('='));
    if (eq < 0)
        return fail(QStringLiteral("expected ADDR[:ROW[:ATTEMPTS]]=KIND[/PARAM]"));
    const QStringList where = faultText.left(eq).split(QLatin1Char(':'));
    const QStringList what = faultText.mid(eq + 1).split(QLatin1Char('/'));
    if (where.size() > 3 || what.size() > 2)
        return fail(QStringLiteral("too many parts"));
    if (!parseHexByte(where[0], &f->address) || slotOfAddress(f->address) < 0)
        return fail(QStringLiteral("no controller has address \"%1\"").arg(where[0]));
    if (where.size() > 1 && where[1] != QLatin1String("*")) {
        const int slot = slotOfAddress(f->address);
        if (!parseCount(where[1], &f->row) || f->row >= controllerMap()[slot].rows)
            return fail(QStringLiteral("row \"%1\" is not a register row of this controller").arg(where[1]));
    }
    if (where.size() > 2 && !parseCount(where[2], &f->attempts))
        return fail(QStringLiteral("attempts \"%1\" is not a count").arg(where[2]));

    // Whether a kind takes /PARAM: never, always, or optionally (then its
    // default stands without one).
    enum class Param { None, Needed, Optional };
    struct KindRow {
        FaultKind kind;
        Param param;
        int byDefault;
    };
    static const std::map<QString, KindRow> kinds = {
        {QStringLiteral("silent"), {FaultKind::Silent, Param::None, 0}},
        {QStringLiteral("late"), {FaultKind::Late, Param::Needed, 0}},
        {QStringLiteral("badsum"), {FaultKind::BadSum, Param::None, 0}},
        {QStringLiteral("otheraddr"), {FaultKind::OtherAddr, Param::None, 0}},
        {QStringLiteral("pieces"), {FaultKind::Pieces, Param::Needed, 0}},
        {QStringLiteral("garbage"), {FaultKind::Garbage, Param::None, 0}},
        {QStringLiteral("fail"), {FaultKind::Fail, Param::Needed, 0}},
        {QStringLiteral("nostore"), {FaultKind::NoStore, Param::None, 0}},
        {QStringLiteral("badecho"), {FaultKind::BadEcho, Param::None, 0}},
        {QStringLiteral("dupack"), {FaultKind::DupAck, Param::Optional, kDupAckDefaultMs}},
    };
    const auto k = kinds.find(what[0]);
    if (k == kinds.end())
        return fail(QStringLiteral("unknown kind \"%1\"").arg(what[0]));
    f->kind = k->second.kind;
    f->param = k->second.byDefault;
    const bool given = what.size() == 2;
    if (k->second.param == Param::Needed && !given)
        return fail(QStringLiteral("this kind needs /PARAM"));
    if (k->second.param == Param::None && given)
        return fail(QStringLiteral("this kind takes no /PARAM"));
    if (given && (!parseCount(what[1], &f->param) || (f->kind == FaultKind::Pieces && f->param < 1)))
        return fail(QStringLiteral("parameter \"%1\" is not a valid count").arg(what[1]));
    if (f->kind == FaultKind::Fail) {
        if (f->attempts >= 0)
            return fail(QStringLiteral("fail/N counts its own attempts; give no ATTEMPTS"));
        f->attempts = f->param;
    }
    return true;
}

}  // namespace

bool parseFaults(const QString &text, std::vector<Fault> *out, QString *error)
{
    for (const QString &faultText : text.split(QLatin1Char(','))) {
        if (faultText.trimmed().isEmpty()) {
            *error = QStringLiteral("empty fault in \"%1\": every fault between commas must be given").arg(text);
            return false;
        }
        Fault f;
        if (!parseOneFault(faultText.trimmed(), &f, error))
            return false;
        out->push_back(f);
    }
    return true;
}

bool checkSavePath(const QString &path, QString *error)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        *error = QStringLiteral("--save %1: folder %2 does not exist").arg(path, folder.filePath());
    else if (!folder.isWritable())
        *error = QStringLiteral("--save %1: folder %2 is not writable").arg(path, folder.filePath());
    else if (file.exists() && !file.isFile())
        *error = QStringLiteral("--save %1: not a regular file").arg(path);
    else
        return true;
    return false;
}

bool parsePresence(const QString &text, std::array<bool, kSlotCount> *present, QString *error)
{
    if (parseAddressList(text, present))
        return true;
    *error = QStringLiteral("bad presence list \"%1\" (hexadecimal addresses of controllers, \"all\" or \"none\")").arg(text);
    return false;
}

// ---------------------------------------------------------------- installation

Installation::Installation()
{
    present.fill(true);
}

bool Installation::loadImage(const QString &path, QString *error)
{
    RegisterImage image{};
    const ImageLoadResult r = loadImageFile(path, image);
    if (!r.ok) {
        *error = r.failure;
        return false;
    }
    for (const ControllerSlot &s : controllerMap())
        for (int row = 0; row < s.rows; ++row)
            for (int b = 0; b < kRowBytes; ++b) {
                const int v = image[s.slot][row][b];
                if (v < 0 || v > 255) {
                    *error = QStringLiteral("%1: controller %2, row %3, byte %4 holds %5, not a byte")
                                 .arg(path, hexText(s.address), QString::number(row),
                                      QString::number(b), QString::number(v));
                    return false;
                }
            }
    memory = image;
    return true;
}

void Installation::presenceFromMarkers()
{
    for (int s = 0; s < kSlotCount; ++s)
        present[s] = memory[s][0][0] != 0;
}

void Installation::setRandomFaults(quint32 seed, double rate, int lateMs)
{
    rng_.emplace(seed);
    rate_ = rate;
    lateMs_ = lateMs;
}

std::vector<Delivery> Installation::answer(const Request &req, bool *spoilEcho)
{
    if (!req.checksumOk)
        return {};
    const int slot = slotOfAddress(req.address);
    if (slot < 0 || !present[slot] || req.reg >= controllerMap()[slot].rows)
        return {};

    // Every fault that matches this request counts it; those still within
    // their attempts shape the answer together.
    std::vector<Fault> active;
    for (size_t i = 0; i < faults.size(); ++i) {
        const Fault &f = faults[i];
        if (f.address != req.address || (f.row >= 0 && f.row != req.reg))
            continue;
        const int n = seen_[{i, req.reg}]++;
        if (f.attempts < 0 || n < f.attempts)
            active.push_back(f);
    }
    if (!active.empty())
        ++listedFaultsApplied;
    if (rng_ && std::uniform_real_distribution<double>(0.0, 1.0)(*rng_) < rate_) {
        // The kinds a real bus shows unasked; nostore and badecho are asked for by name only.
        static constexpr FaultKind kMix[] = {FaultKind::Silent, FaultKind::Late,   FaultKind::BadSum, FaultKind::OtherAddr,
                                             FaultKind::Pieces, FaultKind::Garbage, FaultKind::DupAck};
        Fault f;
        f.kind = kMix[std::uniform_int_distribution<int>(0, int(std::size(kMix)) - 1)(*rng_)];
        f.param = f.kind == FaultKind::Late     ? lateMs_
                  : f.kind == FaultKind::DupAck ? kDupAckDefaultMs   // a controller acknowledging at once twice
                                                : std::uniform_int_distribution<int>(1, 6)(*rng_);
        active.push_back(f);
        ++randomFaultsInjected;
    }
    auto has = [&](FaultKind k) {
        for (const Fault &f : active)
            if (f.kind == k)
                return true;
        return false;
    };
    if (spoilEcho)
        *spoilEcho = has(FaultKind::BadEcho);
    // A request that gets no answer never reached the controller.
    if (has(FaultKind::Silent) || has(FaultKind::Fail))
        return {};

    const int replyAddress = has(FaultKind::OtherAddr) ? (req.address ^ 0x01) : req.address;
    QByteArray reply;
    if (req.kind == Request::Kind::Read) {
        frames::RowData row{};
        for (int b = 0; b < kRowBytes; ++b)
            row[b] = static_cast<std::uint8_t>(memory[slot][req.reg][b]);
        reply = frames::readReply(replyAddress, req.reg, row, 0x00);
    } else {
        if (!has(FaultKind::NoStore))
            for (int b = 0; b < kRowBytes; ++b)
                memory[slot][req.reg][b] = req.data[b];
        // The acknowledgement carries the register and a checksum after F8 A 01.
        reply = frames::writeReply(replyAddress);
        reply.append(static_cast<char>(req.reg));
        reply.append(static_cast<char>((replyAddress + frames::kWriteAck + req.reg) & 0xFF));
    }
    if (has(FaultKind::BadSum))
        reply[reply.size() - 1] = static_cast<char>(static_cast<std::uint8_t>(reply.back()) + 1);
    if (has(FaultKind::Garbage))
        reply.prepend(static_cast<char>(kGarbageByte));

    qint64 delay = 0;
    int piece = static_cast<int>(reply.size());
    for (const Fault &f : active) {
        if (f.kind == FaultKind::Late)
            delay = std::max<qint64>(delay, f.param);
        if (f.kind == FaultKind::Pieces)
            piece = std::min(piece, f.param);
    }
    std::vector<Delivery> out;
    for (qsizetype at = 0; at < reply.size(); at += piece) {
        out.push_back({delay, reply.mid(at, piece)});
        delay += kPieceGapMs;
    }
    // A write acknowledged twice: the same acknowledgement again, its first
    // piece the fault's gap after the first one's (never before the last
    // piece of the first).
    if (req.kind == Request::Kind::Write) {
        for (const Fault &f : active) {
            if (f.kind != FaultKind::DupAck)
                continue;
            const qint64 shift = std::max<qint64>(f.param, out.back().delayMs - out.front().delayMs);
            const size_t once = out.size();
            for (size_t i = 0; i < once; ++i)
                out.push_back({out[i].delayMs + shift, out[i].bytes});
            break;
        }
    }
    return out;
}

void OutputQueue::add(qint64 requestUs, const std::vector<Delivery> &answer)
{
    if (answer.empty())
        return;
    const qint64 firstUs = requestUs + answer.front().delayMs * 1000;
    const qint64 shift = pieces_.empty() ? 0 : std::max<qint64>(0, pieces_.back().first - firstUs);
    for (const Delivery &d : answer)
        pieces_.emplace_back(requestUs + d.delayMs * 1000 + shift, d.bytes);
}

QByteArray OutputQueue::takeDue(qint64 nowUs)
{
    QByteArray out;
    while (!pieces_.empty() && pieces_.front().first <= nowUs) {
        out += pieces_.front().second;
        pieces_.pop_front();
    }
    return out;
}

// ---------------------------------------------------------------- texts

QString hexLine(const QByteArray &bytes)
{
    QStringList parts;
    for (char c : bytes)
        parts << QStringLiteral("%1").arg(static_cast<std::uint8_t>(c), 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

}  // namespace zuk::sim
