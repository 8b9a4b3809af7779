#include "common/text_file.h"

#include <QStringDecoder>
#include <QHash>


namespace zuk {

QString decode1251(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-1251");
    return decoder(bytes);
}

namespace {

// The code page as a table from character to byte, made from the decoder, so
// that encoding is the exact inverse of decoding.
const QHash<char16_t, char> &encodeTable()
{
    static const QHash<char16_t, char> table = [] {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QString chars = decode1251(all);
        QHash<char16_t, char> t;
        for (int b = 0; b < 256 && b < chars.size(); ++b)
            t.insert(chars[b].unicode(), static_cast<char>(b));
        return t;
    }();
    return table;
}

}  // namespace

bool encode1251(const QString &text, QByteArray *out, qsizetype *badIndex)
{
    const QHash<char16_t, char> &table = encodeTable();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        auto it = table.constFind(text[i].unicode());
        if (it == table.constEnd()) {
            if (badIndex)
                *badIndex = i;
            return false;
        }
        bytes.append(it.value());
    }
    if (out)
        *out = std::move(bytes);
    return true;
}

ItemReader::ItemReader(QString text) : text_(std::move(text)) {}

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool isLineEnd(QChar c) { return c == u'\r' || c == u'\n'; }

}  // namespace

bool ItemReader::nextItem(QString *out)
{
    const qsizetype n = text_.size();
    const QChar *const text = text_.constData();   // read only: no detach check per character
    while (pos_ < n && isBlank(text[pos_]))
        ++pos_;
    if (pos_ >= n) {
        status_ = Status::EndOfFile;
        return false;
    }
    itemLine_ = lineNo_;
    ++itemsRead_;

    QString item;
    if (text[pos_] == u'"') {
        qsizetype start = ++pos_;
        while (pos_ < n && text[pos_] != u'"' && !isLineEnd(text[pos_]))
            ++pos_;
        item = text_.mid(start, pos_ - start);
        if (pos_ < n && text[pos_] == u'"')
            ++pos_;
        // Whatever stands between the closing quote and the item's end is dropped.
        while (pos_ < n && text[pos_] != u',' && !isLineEnd(text[pos_]))
            ++pos_;
    } else {
        qsizetype start = pos_;
        while (pos_ < n && text[pos_] != u',' && !isLineEnd(text[pos_]))
            ++pos_;
        item = text_.mid(start, pos_ - start);
    }

    if (pos_ < n) {
        if (text[pos_] == u',') {
            ++pos_;
        } else if (text[pos_] == u'\r') {
            ++pos_;
            if (pos_ < n && text[pos_] == u'\n')
                ++pos_;
            ++lineNo_;
        } else if (text[pos_] == u'\n') {
            ++pos_;
            ++lineNo_;
        }
    }
    lastItem_ = item;
    status_ = Status::Ok;
    if (out)
        *out = std::move(item);
    return true;
}

bool ItemReader::readText(QString *out)
{
    return nextItem(out);
}

bool parseNumberItem(const QString &text, qint16 *out)
{
    qsizetype from = 0, to = text.size();
    while (from < to && isBlank(text[from]))
        ++from;
    while (to > from && isBlank(text[to - 1]))
        --to;
    const QString item = text.mid(from, to - from);
    qsizetype i = 0;
    bool negative = false;
    if (i < item.size() && item[i] == u'-') {
        negative = true;
        ++i;
    }
    if (i >= item.size())
        return false;
    qint64 value = 0;
    for (; i < item.size(); ++i) {
        const QChar c = item[i];
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 32768)
            return false;
    }
    if (negative)
        value = -value;
    if (value < -32768 || value > 32767)
        return false;
    if (out)
        *out = static_cast<qint16>(value);
    return true;
}

bool ItemReader::readNumber(qint16 *out)
{
    QString item;
    if (!nextItem(&item))
        return false;
    if (!parseNumberItem(item, out)) {
        status_ = Status::BadNumber;
        return false;
    }
    return true;
}

bool ItemReader::skip(int n)
{
    for (int i = 0; i < n; ++i)
        if (!nextItem(nullptr))
            return false;
    return true;
}

QString ItemReader::failureText() const
{
    switch (status_) {
    case Status::EndOfFile:
        return QStringLiteral("файл кончился: прочитано %1 %2")
            .arg(itemsRead_)
            .arg(russianPlural(itemsRead_, QStringLiteral("элемент"), QStringLiteral("элемента"),
                               QStringLiteral("элементов")));
    case Status::BadNumber:
        return QStringLiteral("элемент %1 (строка %2): «%3» — не целое число от -32768 до 32767")
            .arg(itemsRead_)
            .arg(itemLine_)
            .arg(visibleText(lastItem_));
    case Status::Ok:
        break;
    }
    return QString();
}

bool isWritableText(const QString &text, QChar *bad)
{
    for (QChar c : text) {
        if (c == u'"' || c == u'\r' || c == u'\n') {
            if (bad)
                *bad = c;
            return false;
        }
    }
    qsizetype badIndex = 0;
    if (!encode1251(text, nullptr, &badIndex)) {
        if (bad)
            *bad = text[badIndex];
        return false;
    }
    return true;
}

void ItemWriter::textLine(const QStringList &items)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            text_ += u',';
        text_ += u'"';
        text_ += items[i];
        text_ += u'"';
    }
    text_ += QStringLiteral("\r\n");
    ++lines_;
}

void ItemWriter::numberLine(int value)
{
    text_ += QString::number(value);
    text_ += QStringLiteral("\r\n");
    ++lines_;
}

bool ItemWriter::bytes(QByteArray *out, QString *error) const
{
    qsizetype bad = 0;
    QByteArray encoded;
    if (!encode1251(text_, &encoded, &bad)) {
        if (error) {
            const QChar ch = text_[bad];
            *error = QStringLiteral("символ U+%1 (строка %2) нельзя записать в кодировке Windows-1251")
                         .arg(QString::number(ch.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')))
                         .arg(text_.left(bad).count(QLatin1Char('\n')) + 1);
        }
        return false;
    }
    if (out)
        *out = std::move(encoded);
    return true;
}

QString visibleText(const QString &text, int limit)
{
    QString out;
    const qsizetype n = std::min<qsizetype>(text.size(), limit);
    out.reserve(n + 8);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            out += QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0')).toUpper().replace(u'X', u'x');
        else
            out += text[i];
    }
    if (text.size() > limit)
        out += QChar(0x2026);
    return out;
}

QString russianPlural(qint64 n, const QString &one, const QString &few, const QString &many)
{
    const qint64 a = n < 0 ? -n : n;
    const qint64 lastTwo = a % 100, last = a % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return many;
    if (last == 1)
        return one;
    if (last >= 2 && last <= 4)
        return few;
    return many;
}

}  // namespace zuk
