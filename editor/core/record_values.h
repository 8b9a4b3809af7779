#pragma once
// What the record display reads out of the lines of a description record
// or an input type and out of the image: numbers, kind words, type codes and
// the element an item stands for. Every value is checked; what does not fit
// gives none.
#include "editor/core/form.h"

#include <optional>

namespace kalvet::record_values {

constexpr int kFileTypes = 61;       // input types of in_0.ini, 0..60
constexpr int kFallbackType = 60;
constexpr int kTypeItems = 1 + TypeLine::kCount;   // name and lines
constexpr int kItems = 12;

inline const QString kFf = QStringLiteral("ff");
inline const QString kTimer = QStringLiteral("timer");
inline const QString kBisnes = QStringLiteral("bisnes");
inline const QString kUslov = QStringLiteral("uslov");
inline const QString kIn = QStringLiteral("in");

// Value of a line that holds a number: decimal digits with an optional sign
// and an optional fraction of zeros ("07", "9", "7.0" and "+7" are numbers;
// "7.5", "", "x" are not). Values beyond any row, offset, byte or 16-bit code
// count as no number.
std::optional<int> wholeNumber(const QString &text);
bool isItemKind(const QString &word);
// Type code of input type t as a 16-bit value, when it is one.
std::optional<qint16> typeCode(const LineTable &types, int t);
// The input type shown for a stored value: the first type whose code equals
// it, else the fallback type.
int inputTypeOf(const LineTable &types, int value);
// Kind word named by a condition letter; only the exact letters count.
QString kindOfLetter(const QString &letter);
// Element (slot, base row, offset) with the carry into the next row; none
// when it lies outside the image.
ImageByte byteAt(std::array<zuk::SlotImage, 21> &image, int slot, int baseRow, int offset);

// Marks a record display in progress for as long as it lives.
struct Displaying {
    int &depth;
    explicit Displaying(int &d) : depth(d) { ++depth; }
    ~Displaying() { --depth; }
};

}  // namespace kalvet::record_values
