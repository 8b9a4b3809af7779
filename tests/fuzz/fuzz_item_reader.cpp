// The item reader on arbitrary bytes: every line-end style, open and closed
// quotes, blanks, huge lines. Besides surviving, the items it gives must obey
// the format, and every text the writer accepts must read back unchanged.
#include "common/text_file.h"

#include <QStringList>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool isLineEnd(QChar c) { return c == u'\r' || c == u'\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // Text reading: items never span a line end, never start with a blank,
    // and the line count never goes back.
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    QStringList items;
    int lastLine = 0;
    for (QString item; reader.readText(&item);) {
        check(reader.status() == zuk::ItemReader::Status::Ok);
        check(reader.itemsRead() == items.size() + 1);
        check(reader.line() >= lastLine);
        lastLine = reader.line();
        for (QChar c : item)
            check(!isLineEnd(c));
        check(item.isEmpty() || (item[0] != u' ' && item[0] != u'\t') || bytes.contains('"'));
        items << item;
    }
    check(reader.status() == zuk::ItemReader::Status::EndOfFile);

    // Number reading over the same bytes: a number item gives the value its
    // digits spell; a failed one is consumed and the reading goes on.
    zuk::ItemReader numbers = zuk::ItemReader::fromBytes(bytes);
    for (int i = 0; i < items.size(); ++i) {
        qint16 v = 0;
        const bool ok = numbers.readNumber(&v);
        check(ok || numbers.status() == zuk::ItemReader::Status::BadNumber);
        qint16 w = 0;
        check(ok == zuk::parseNumberItem(items[i], &w));
        if (ok) {
            check(v == w);
            bool plain = false;
            check(items[i].trimmed().toInt(&plain) == v && plain);
        }
    }
    qint16 rest = 0;
    check(!numbers.readNumber(&rest) && numbers.status() == zuk::ItemReader::Status::EndOfFile);

    // Writing what was read: every writable text comes back as it went in,
    // on lines of one to three items.
    QStringList writable;
    for (const QString &item : items)
        if (zuk::isWritableText(item))
            writable << item;
    zuk::ItemWriter writer;
    for (qsizetype i = 0; i < writable.size(); i += 3)
        writer.textLine(writable.mid(i, 3));
    QByteArray written;
    check(writer.bytes(&written) || writable.isEmpty());
    zuk::ItemReader again = zuk::ItemReader::fromBytes(written);
    for (const QString &item : writable) {
        QString back;
        check(again.readText(&back));
        check(back == item);
    }
    check(!again.readText(nullptr));
    return 0;
}
