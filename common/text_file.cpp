#include "common/text_file.h"

#include <QHash>


namespace zuk {

namespace {

// The upper half of Windows-1251, bytes 80..FF; the lower half is ASCII.
// 98, which the code page leaves unassigned, stands for U+0098, as in the
// system's own conversion, so that every byte has a character and a file
// round-trips byte for byte. The table is the program's own: a Qt for
// Windows knows no Windows-1251 of its own.
constexpr char16_t kUpperHalf[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,   // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,   // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,   // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,   // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,   // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,   // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,   // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,   // B8
    // C0..FF: А..я in alphabetical order
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// The inverse of kUpperHalf, character to byte.
const QHash<char16_t, char> &encodeTable()
{
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> t;
        for (int i = 0; i < 128; ++i)
            t.insert(kUpperHalf[i], static_cast<char>(0x80 + i));
        return t;
    }();
    return table;
}

}  // namespace

QString decode1251(const QByteArray &bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *to = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *to++ = QChar(b < 0x80 ? char16_t(b) : kUpperHalf[b - 0x80]);
    }
    return text;
}

bool encode1251(const QString &text, QByteArray *out, qsizetype *badIndex)
{
    const QHash<char16_t, char> &table = encodeTable();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            bytes.append(static_cast<char>(c));
            continue;
        }
        auto it = table.constFind(c);
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
