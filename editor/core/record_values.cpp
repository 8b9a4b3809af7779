#include "editor/core/record_values.h"

namespace kalvet::record_values {

std::optional<int> wholeNumber(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    const qsizetype digits = i;
    int value = 0;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > 1000000)
            return std::nullopt;
    }
    if (i == digits)
        return std::nullopt;
    if (i < t.size() && t[i] == u'.') {
        for (++i; i < t.size() && t[i] == u'0'; ++i) {
        }
    }
    if (i != t.size())
        return std::nullopt;
    return negative ? -value : value;
}

bool isItemKind(const QString &word)
{
    return word == kFf || word == kTimer || word == kBisnes || word == kUslov || word == kIn;
}

std::optional<qint16> typeCode(const LineTable &types, int t)
{
    if (t < 0 || t >= kLineTableRows)
        return std::nullopt;
    const std::optional<int> code = wholeNumber(types[t][TypeLine::kCode]);
    if (!code || *code < -32768 || *code > 32767)
        return std::nullopt;
    return static_cast<qint16>(*code);
}

int inputTypeOf(const LineTable &types, int value)
{
    for (int t = 0; t < kFileTypes; ++t) {
        const std::optional<qint16> code = typeCode(types, t);
        if (code && *code == value)
            return t;
    }
    return kFallbackType;
}

QString kindOfLetter(const QString &letter)
{
    if (letter == QStringLiteral("f"))
        return kFf;
    if (letter == QStringLiteral("i"))
        return kIn;
    if (letter == QStringLiteral("t"))
        return kTimer;
    return QString();
}

ImageByte byteAt(std::array<zuk::SlotImage, 21> &image, int slot, int baseRow, int offset)
{
    if (slot < 0 || slot >= static_cast<int>(image.size()))
        return {};
    if (baseRow < 0 || baseRow >= zuk::kMaxRows || offset < 0 || offset > 15)
        return {};
    int row = baseRow;
    int byte = offset;
    if (byte > 7) {
        byte -= 8;
        ++row;
    }
    if (row >= zuk::kMaxRows)
        return {};
    return {slot, row, byte, &image[slot][row][byte]};
}

}  // namespace kalvet::record_values
