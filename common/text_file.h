#pragma once
// Files of the installation are Windows-1251 text with CR LF line ends,
// made of items: an item ends at a comma or at the end of a line.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zuk {

// Windows-1251 bytes to text, by the program's own table (the same on every
// system); every one of the 256 byte values has a character, so decoding and
// encoding again gives the same bytes.
QString decode1251(const QByteArray &bytes);

// Text to Windows-1251 bytes. Returns false when a character has no byte in
// Windows-1251; *badIndex then is the index of the first such character.
bool encode1251(const QString &text, QByteArray *out, qsizetype *badIndex = nullptr);

// A piece of a text fit for a message: at most `limit` characters, then "…";
// control characters are shown as \xHH (\t, \r, \n as such), so that nothing
// of a file can act on the terminal or flood a message box.
QString visibleText(const QString &text, int limit = 40);

// The Russian word for a count: one of the three forms for 1, 2..4, 5..20
// ("элемент", "элемента", "элементов").
QString russianPlural(qint64 n, const QString &one, const QString &few, const QString &many);

// Reads the items of a file one at a time.
//  - leading blanks (spaces, tabs) of an item are skipped;
//  - an item in double quotes is taken whole up to its closing quote, commas
//    included; whatever follows the closing quote up to the next comma or line
//    end is dropped; a quote left open ends at the end of its line;
//  - an unquoted item runs to the next comma or line end, blanks before that
//    included ("ff " is not the word "ff");
//  - a line end is CR LF, LF or a lone CR; an empty line is one empty item.
// A number item is a decimal integer (optional minus sign, digits only) in
// -32768..32767, blanks around it allowed; anything else fails the read.
class ItemReader {
public:
    enum class Status { Ok, EndOfFile, BadNumber };

    explicit ItemReader(QString text);
    static ItemReader fromBytes(const QByteArray &bytes) { return ItemReader(decode1251(bytes)); }

    // Next item as text; false at the end of the file.
    bool readText(QString *out);
    // Next item as a number; false at the end of the file or when the item is
    // not a number (status() tells which; the item is consumed either way).
    bool readNumber(qint16 *out);
    // Skips n items; false when the file ends first.
    bool skip(int n);

    Status status() const { return status_; }
    int itemsRead() const { return itemsRead_; }  // items taken so far, the failed one included
    int line() const { return itemLine_; }         // line (from 1) where the last item started
    QString lastItem() const { return lastItem_; }
    // Russian description of the failure, naming the item and the line.
    QString failureText() const;

private:
    bool nextItem(QString *out);

    QString text_;
    qsizetype pos_ = 0;
    int lineNo_ = 1;
    int itemLine_ = 0;
    int itemsRead_ = 0;
    QString lastItem_;
    Status status_ = Status::Ok;
};

// Parses a number item as the reader does (blanks around the digits allowed).
bool parseNumberItem(const QString &item, qint16 *out);

// Whether a text can be written as a text item: no double quote, no line
// break, only characters that Windows-1251 holds. On false, *bad is the first
// character that cannot be written.
bool isWritableText(const QString &text, QChar *bad = nullptr);

// Builds a file line by line: text items in double quotes, numbers plain,
// items of a line separated by a single comma, every line ended by CR LF.
class ItemWriter {
public:
    void textLine(const QStringList &items);
    void textLine(const QString &item) { textLine(QStringList{item}); }
    void numberLine(int value);
    // The file as Windows-1251 bytes. False when a character has no byte in
    // the code page (a text that did not pass isWritableText); *error then names the character and the line, and *out
    // is left as it was.
    bool bytes(QByteArray *out, QString *error = nullptr) const;
    int lineCount() const { return lines_; }

private:
    QString text_;
    int lines_ = 0;
};

}  // namespace zuk
