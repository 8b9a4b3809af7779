#include "editor/core/side_files.h"

#include "common/files.h"
#include "common/text_file.h"

#include <algorithm>

namespace kalvet {

void FileProblems::report(const QString &name, const QString &signature, const QString &text)
{
    if (signature.isEmpty()) {
        told_.remove(name);
    } else if (told_.value(name) != signature) {
        told_.insert(name, signature);
        tell_(text);
    }
}

QStringList SideFiles::items(const QString &name, int count)
{
    QByteArray &bytes = buffer_;   // read into again and again
    QString error;
    if (!zuk::readFileBytes(folder_.filePath(name), &bytes, &error)) {
        known_.remove(name);
        problems_.report(name, QStringLiteral("missing"),
                         QStringLiteral("Файл %1 не прочитан: %2. Список пуст: 0 элементов из %3.")
                             .arg(name, error)
                             .arg(count));
        return {};
    }
    Known &known = known_[name];
    if (known.count != count || known.bytes != bytes) {
        known = Known();
        known.bytes = QByteArray(bytes.constData(), bytes.size());   // the buffer is read into again
        known.count = count;
        zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
        known.items.reserve(std::min<qsizetype>(count, bytes.size() + 1));   // an item takes a byte at least
        QString item;
        while (known.items.size() < count && reader.readText(&item))
            known.items.append(item);
        if (known.items.size() < count) {
            known.signature = QStringLiteral("%1:%2").arg(known.items.size()).arg(qHash(bytes));
            known.report = QStringLiteral("Файл %1 слишком короткий: прочитано %2 %3 из %4. "
                                          "Список заполнен до конца файла.")
                               .arg(name)
                               .arg(known.items.size())
                               .arg(zuk::russianPlural(known.items.size(), QStringLiteral("элемент"),
                                                       QStringLiteral("элемента"), QStringLiteral("элементов")))
                               .arg(count);
        }
    }
    problems_.report(name, known.signature, known.report);
    return known.items;
}

QStringList SideFiles::entries(const QString &name, int entries, int perRecord, int textAt, QStringList *all)
{
    *all = items(name, entries * perRecord);
    if (perRecord == 1)
        return *all;
    const auto known = known_.find(name);
    if (known == known_.end())
        return {};   // not read
    if (known->textsPerRecord != perRecord || known->textAt != textAt) {
        // At most entries * perRecord items: the text of each entry the file holds.
        known->texts.clear();
        known->texts.reserve(entries);
        for (qsizetype at = textAt; at < all->size(); at += perRecord)
            known->texts.append((*all)[at]);
        known->textsPerRecord = perRecord;
        known->textAt = textAt;
    }
    return known->texts;
}

}  // namespace kalvet
