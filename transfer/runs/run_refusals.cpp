#include "transfer/runs/runs.h"

#include "common/files.h"
#include "transfer/runs/runs_shared.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>

namespace zuk {

using runs::notStarted;


// The opening of every refusal: which run did not begin.
QString runs::notStarted(RunKind kind)
{
    switch (kind) {
    case RunKind::Read: return QStringLiteral("Чтение не начато, ничего не отправлено, файл zuk.txt не изменён");
    case RunKind::Write: return QStringLiteral("Запись в систему не начата, ничего не отправлено");
    case RunKind::Compare: return QStringLiteral("Сравнение не начато, ничего не отправлено");
    case RunKind::Scan: return QStringLiteral("Опрос не начат, ничего не отправлено");
    }
    return QString();
}

QString TransferTool::reloadRefusal(RunKind kind)
{
    QString why;
    if (reloadIfChanged(&why) != FileCheck::Failed)
        return QString();
    if (kind == RunKind::Read) {
        // The file on disk is no longer the one loaded: kept beside before the run replaces it.
        loadedWhole_ = false;
        return QString();
    }
    return notStarted(kind) + QStringLiteral(": файл zuk.txt изменён и не загружается (Ошибка, нет готового файла): %1")
                                  .arg(why);
}

QString TransferTool::nothingTickedText(RunKind kind, const QString &why)
{
    return notStarted(kind) + QStringLiteral(": ни один контроллер не отмечен (%1).").arg(why);
}

QString TransferTool::nothingTickedRefusal(RunKind kind) const
{
    if (kind == RunKind::Scan || std::any_of(ticked.begin(), ticked.end(), [](bool t) { return t; }))
        return QString();
    QString why;
    if (!loadedWhole_ && !loadFailure_.isEmpty())
        why = QStringLiteral("файл zuk.txt не загружен: %1").arg(loadFailure_);
    else if (std::none_of(controllerMap().begin(), controllerMap().end(),
                          [this](const ControllerSlot &s) { return reg_image[s.slot][0][0] != 0; }))
        why = QStringLiteral("в файле zuk.txt ни один контроллер не отмечен присутствующим");
    else
        why = QStringLiteral("все отметки сняты");
    return nothingTickedText(kind, why);
}

QString TransferTool::readingRunRefusal(const QString &imagePath)
{
    const QString lead = notStarted(RunKind::Read) + QStringLiteral(": ");
    if (const QString readOnly = readOnlyFileText(imagePath); !readOnly.isEmpty())
        return lead + readOnly;
    // zuk.txt is replaced by a file made beside the one it names (after
    // links): one is made and removed here, as the save will.
    QString why;
    const QString target = saveTarget(imagePath, &why);
    if (target.isEmpty())
        return lead + why;
    const QFileInfo info(target);
    const QString folder = QDir::toNativeSeparators(info.absolutePath());
    QTemporaryFile probe(info.absoluteDir().filePath(info.fileName() + QStringLiteral(".tmp-XXXXXX")));
    if (!probe.open())
        return lead + QStringLiteral("в папке %1 нельзя создать файл: %2").arg(folder, probe.errorString());
    if (!probe.remove())
        return lead + QStringLiteral("в папке %1 нельзя удалить созданный файл: %2").arg(folder, probe.errorString());
    return QString();
}

QString TransferTool::runRefusal(RunKind kind) const
{
    QString why = nothingTickedRefusal(kind);
    if (why.isEmpty() && kind == RunKind::Read)
        why = readingRunRefusal();
    return why;
}

QString TransferTool::firstUnsendableValue() const
{
    for (const ControllerSlot &s : controllerMap()) {
        if (!ticked[s.slot])
            continue;
        for (int r = 0; r < s.rows; ++r)
            for (int b = 0; b < kRowBytes; ++b) {
                const int v = reg_image[s.slot][r][b];
                if (v < 0 || v > 255)
                    return QStringLiteral("контроллер $%1, регистр $%2, байт %3: значение %4 вне 0..255")
                        .arg(hexText(s.address), hexText(r))
                        .arg(b)
                        .arg(v);
            }
    }
    return QString();
}

QStringList TransferTool::absentTicked() const
{
    QStringList absent;
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot] && reg_image[s.slot][0][0] == 0)
            absent << QStringLiteral("$") + hexText(s.address);
    return absent;
}

QString TransferTool::absentText(const QStringList &addresses)
{
    const bool one = addresses.size() == 1;
    return QStringLiteral("файл zuk.txt отмечает %1 %2 %3 (байт присутствия, байт 0 регистра 0, равен 0), "
                          "и этот 0 был бы записан в %4")
        .arg(one ? QStringLiteral("контроллер") : QStringLiteral("контроллеры"), addresses.join(QStringLiteral(", ")),
             one ? QStringLiteral("отсутствующим") : QStringLiteral("отсутствующими"),
             one ? QStringLiteral("него") : QStringLiteral("них"));
}

QString TransferTool::absentRefusal() const
{
    const QStringList absent = absentTicked();
    if (forceAbsent_ || absent.isEmpty())
        return QString();
    return notStarted(RunKind::Write) + QStringLiteral(": ") + absentText(absent) + QLatin1Char('.');
}

QString TransferTool::writeRefusal() const
{
    QStringList incomplete;
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot] && !complete_[s.slot])
            incomplete << QStringLiteral("$") + hexText(s.address);
    if (!incomplete.isEmpty()) {
        const bool one = incomplete.size() == 1;
        return QStringLiteral("Запись в систему не начата, ничего не отправлено: образ %1 %2 неполный. Файл "
                              "загружен не полностью (%3), и %4 с тех пор не прочитан%5 из системы целиком. "
                              "Прочитайте %6 из системы или исправьте файл и запустите программу снова.")
            .arg(one ? QStringLiteral("контроллера") : QStringLiteral("контроллеров"),
                 incomplete.join(QStringLiteral(", ")), loadFailure_, one ? QStringLiteral("он") : QStringLiteral("они"),
                 one ? QString() : QStringLiteral("ы"), one ? QStringLiteral("его") : QStringLiteral("их"));
    }
    const QString bad = firstUnsendableValue();
    if (!bad.isEmpty())
        return QStringLiteral("Запись в систему не начата, ничего не отправлено. В образе из %1 есть "
                              "значение, которое не является байтом: %2")
            .arg(QDir::toNativeSeparators(imagePath()), bad);
    return QString();
}

}  // namespace zuk
