#include "editor/core/installation_files.h"

#include "common/address_map.h"

namespace kalvet::files {

namespace {

QString itemsWord(qint64 n)
{
    return zuk::russianPlural(n, QStringLiteral("элемент"), QStringLiteral("элемента"), QStringLiteral("элементов"));
}

}  // namespace

QString readFailure(const QString &name, const zuk::ItemReader &reader, int needed, const QString &place)
{
    if (reader.status() == zuk::ItemReader::Status::EndOfFile)
        return QStringLiteral("Файл %1 слишком короткий: прочитано %2 %3 из %4%5.")
            .arg(name)
            .arg(reader.itemsRead())
            .arg(itemsWord(reader.itemsRead()))
            .arg(needed)
            .arg(place);
    return QStringLiteral("Ошибка в файле %1: %2%3.").arg(name, reader.failureText(), place);
}

bool scenarioFileBytes(const NameTables &names, const QStringList &codes, QByteArray *out, QString *error)
{
    zuk::ItemWriter scenarios;
    for (int k = 0; k < kControllers; ++k) {
        scenarios.textLine(kSectionHeader + zuk::hexText(k));
        for (int s = 0; s < kScenarios; ++s)
            scenarios.textLine({codes.value(s), names.scen_name[k][s]});
    }
    return scenarios.bytes(out, error);
}

bool namesFileBytes(const NameTables &names, QByteArray *out, QString *error)
{
    zuk::ItemWriter nameLines;
    for (int k = 0; k < kControllers; ++k) {
        nameLines.textLine({kSectionHeader + zuk::hexText(k), names.ctrl_location[k]});
        for (int l = 0; l < kNameLines; ++l)
            nameLines.textLine({zuk::hexText(l), names.out_name[k][l], names.in_name[k][l], names.ir_name[k][l]});
    }
    return nameLines.bytes(out, error);
}

}  // namespace kalvet::files
