#include "transfer/runs/report.h"

#include "transfer/runs/history.h"

#include "common/files.h"
#include "common/text_file.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace zuk {

namespace {

QString isoLocal(const QDateTime &t)
{
    // Local time with its offset written out, e.g. 2026-12-09T14:03:27+03:00.
    const QDateTime withOffset = t.toOffsetFromUtc(t.offsetFromUtc());
    QString text = withOffset.toString(Qt::ISODate);
    if (text.endsWith(QLatin1Char('Z')))
        text.chop(1), text += QStringLiteral("+00:00");
    return text;
}

const char *kindName(RunKind k)
{
    switch (k) {
    case RunKind::Read: return "read";
    case RunKind::Write: return "write";
    case RunKind::Compare: return "compare";
    case RunKind::Scan: return "scan";
    }
    return "";
}

const char *outcomeName(RunOutcome o)
{
    switch (o) {
    case RunOutcome::Completed: return "completed";
    case RunOutcome::Stopped: return "stopped";
    case RunOutcome::Refused: return "refused";
    case RunOutcome::PortNotOpen: return "port_not_open";
    case RunOutcome::PortLost: return "port_lost";
    case RunOutcome::NoAnswer: return "no_answer";
    case RunOutcome::Busy: return "busy";
    }
    return "";
}

}  // namespace

RunRecord recordWithoutRun(RunKind kind, RunOutcome outcome, const QString &port)
{
    RunRecord record;
    record.kind = kind;
    record.outcome = outcome;
    record.port = port;
    record.started = record.finished = QDateTime::currentDateTime();
    return record;
}

QString differenceLine(const ByteDifference &d)
{
    return QStringLiteral("адрес $%1 регистр $%2 байт %3: %4 -> %5")
        .arg(hexText(controllerMap()[d.slot].address), hexText(d.row))
        .arg(d.byte)
        .arg(d.file)
        .arg(d.system);
}

QString differenceTotalLine(qsizetype n)
{
    return QStringLiteral("различий: %1").arg(n);
}

void addRowDifferences(int slot, int row, const ImageRow &a, const ImageRow &b, std::vector<ByteDifference> *out)
{
    for (int k = 0; k < kRowBytes; ++k)
        if (a[k] != b[k])
            out->push_back({slot, row, k, a[k], b[k]});
}

std::vector<ByteDifference> imageDifferences(const RegisterImage &a, const RegisterImage &b)
{
    std::vector<ByteDifference> out;
    for (const ControllerSlot &s : controllerMap())
        for (int r = 0; r < s.rows; ++r)
            addRowDifferences(s.slot, r, a[s.slot][r], b[s.slot][r], &out);
    return out;
}

QString givenUpLine(const ControllerRecord &c, RunKind kind)
{
    if (c.givenUp.empty())
        return QString();
    QStringList rows;
    for (int r : c.givenUp)
        rows << hexText(r);
    const bool one = rows.size() == 1;
    const QString what = kind == RunKind::Write ? (one ? QStringLiteral("не записан") : QStringLiteral("не записаны"))
                                                : (one ? QStringLiteral("не прочитан") : QStringLiteral("не прочитаны"));
    return QStringLiteral("$%1: %2 %3 %4")
        .arg(hexText(controllerMap()[c.slot].address), one ? QStringLiteral("регистр") : QStringLiteral("регистры"),
             rows.join(QStringLiteral(", ")), what);
}

QString keptText(const RunRecord &record)
{
    if (record.kept.isEmpty())
        return QString();
    return (record.kind == RunKind::Write ? QStringLiteral("система до записи сохранена в %1")
                                          : QStringLiteral("прежний zuk.txt сохранён в %1"))
        .arg(QDir::toNativeSeparators(record.kept));
}

QString nothingReadText()
{
    return QStringLiteral("Ни один контроллер не ответил: не прочитан ни один регистр, файл zuk.txt не изменён.");
}

QString writtenRowsText(const RunRecord &record)
{
    QStringList written, unconfirmed;
    for (const ControllerRecord &c : record.controllers) {
        const QString address = hexText(controllerMap()[c.slot].address);
        if (!c.written.empty())
            written << QStringLiteral("$%1: %2").arg(address, rowRanges(c.written));
        if (!c.unconfirmed.empty())
            unconfirmed << QStringLiteral("$%1: %2").arg(address, rowRanges(c.unconfirmed));
    }
    QString text = written.isEmpty() ? QStringLiteral("ни один регистр не записан")
                                     : QStringLiteral("записаны регистры ") + written.join(QStringLiteral("; "));
    text += acknowledgedText(record);
    if (!unconfirmed.isEmpty())
        text += QStringLiteral("; отправлены, но не подтверждены (могли записаться или нет): ")
                + unconfirmed.join(QStringLiteral("; "));
    return text;
}

QString silentLine(const ControllerRecord &c)
{
    if (!c.silent)
        return QString();
    const ControllerSlot &s = controllerMap()[c.slot];
    const int from = c.givenUp.empty() ? 0 : c.givenUp.back() + 1;
    std::vector<int> left;
    for (int r = from; r < s.rows; ++r)
        left.push_back(r);
    QString line = QStringLiteral("$%1: молчит, пропущен").arg(hexText(s.address));
    if (!left.empty())
        line += QStringLiteral(" (%1 %2 не опрошен%3)")
                    .arg(left.size() == 1 ? QStringLiteral("регистр") : QStringLiteral("регистры"), rowRanges(left),
                         left.size() == 1 ? QString() : QStringLiteral("ы"));
    return line;
}

QString rowRanges(const std::vector<int> &rows)
{
    QStringList parts;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        parts << (j == i ? hexText(rows[i]) : hexText(rows[i]) + QLatin1Char('-') + hexText(rows[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

QString acknowledgedText(const RunRecord &record)
{
    QStringList rows;
    int count = 0;
    for (const ControllerRecord &c : record.controllers)
        if (!c.acknowledged.empty()) {
            rows << QStringLiteral("$%1: %2 %3")
                        .arg(hexText(controllerMap()[c.slot].address),
                             c.acknowledged.size() == 1 ? QStringLiteral("регистр") : QStringLiteral("регистры"),
                             rowRanges(c.acknowledged));
            count += int(c.acknowledged.size());
        }
    if (rows.isEmpty())
        return QString();
    return (count == 1 ? QStringLiteral("; подтверждён контроллером, но не проверен чтением: ")
                       : QStringLiteral("; подтверждены контроллером, но не проверены чтением: "))
           + rows.join(QStringLiteral("; "));
}

QByteArray reportJson(const RunRecord &record)
{
    QJsonArray controllers;
    for (const ControllerRecord &c : record.controllers) {
        if (record.kind == RunKind::Scan) {
            controllers.append(QJsonObject{
                {QStringLiteral("address"), tickAddressText(controllerMap()[c.slot].address)},
                {QStringLiteral("rows"), controllerMap()[c.slot].rows},
                {QStringLiteral("answered"), c.answered},
            });
            continue;
        }
        QJsonArray givenUp;
        for (int r : c.givenUp)
            givenUp.append(r);
        QJsonObject o{
            {QStringLiteral("address"), tickAddressText(controllerMap()[c.slot].address)},
            {QStringLiteral("rows"), controllerMap()[c.slot].rows},
            {QStringLiteral("rows_done"), c.rowsDone},
            {QStringLiteral("given_up"), givenUp},
            {QStringLiteral("silent"), c.silent},
        };
        if (record.kind == RunKind::Compare) {
            QJsonArray differences;
            for (const ByteDifference &d : c.differences)
                differences.append(QJsonObject{{QStringLiteral("row"), d.row},
                                               {QStringLiteral("byte"), d.byte},
                                               {QStringLiteral("file"), d.file},
                                               {QStringLiteral("system"), d.system}});
            o.insert(QStringLiteral("differences"), differences);
        }
        if (record.kind != RunKind::Write)
            o.insert(QStringLiteral("confirmed"), c.confirmed);
        if (record.kind == RunKind::Write) {
            QJsonArray written;
            for (int r : c.written)
                written.append(r);
            o.insert(QStringLiteral("verified"), c.verified);
            o.insert(QStringLiteral("written"), written);
            QJsonArray acknowledged;
            for (int r : c.acknowledged)
                acknowledged.append(r);
            o.insert(QStringLiteral("acknowledged"), acknowledged);
            o.insert(QStringLiteral("unchanged"), c.unchanged);
            QJsonArray unread;
            for (int r : c.unread)
                unread.append(r);
            o.insert(QStringLiteral("unread"), unread);
        }
        controllers.append(o);
    }
    QJsonObject root{
        {QStringLiteral("run"), QLatin1String(kindName(record.kind))},
        {QStringLiteral("outcome"), QLatin1String(outcomeName(record.outcome))},
        {QStringLiteral("port"), record.port},
        {QStringLiteral("started"), isoLocal(record.started)},
        {QStringLiteral("finished"), isoLocal(record.finished)},
        {QStringLiteral("error_total"), record.errorTotal},
        {QStringLiteral("exchanges"), qint64(record.exchanges)},
        {QStringLiteral("anomalies"), qint64(record.anomalies)},
        {QStringLiteral("controllers"), controllers},
    };
    if (record.kind == RunKind::Write)
        root.insert(QStringLiteral("changed_only"), record.changedOnly);
    if (!record.kept.isEmpty())
        root.insert(QStringLiteral("kept"), record.kept);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

}  // namespace zuk

namespace zuk {

bool saveReport(const QString &path, const RunRecord &record, QString *error)
{
    return saveFileAtomically(path, reportJson(record), error);
}

QString reportFileRefusal(const QString &path, const QString &folder)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("это папка");
    if (!QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("такой папки нет");
    if (const QString file = installationFileAt(folder, path, {history::ownFolder()}); !file.isEmpty())
        return QStringLiteral("это %1 из папки %2; укажите другой файл")
            .arg(file, visibleText(QDir::toNativeSeparators(folder), 200));
    return readOnlyFileText(path);
}

}  // namespace zuk
