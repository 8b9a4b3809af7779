#pragma once
// The side files every record display reads (ff.ini, timer.ini, bisnes.ini,
// uslov_0.ini, in_0.ini) and how their problems are told.
//
// A side file is read whole every time. When it cannot be read or holds fewer
// items than needed, the user is told once which file and how many items it
// had; the same problem is not reported again for every item and every
// redraw, only after the file has changed (other contents, or it went missing
// or came back). A file that is read whole clears what was remembered of it.
// The items of the contents read last are kept per file: the same bytes give
// the same items without being parsed again.
#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace kalvet {

// Tells the user of a problem with a file unless the same problem (same
// signature) was told last; an empty signature forgets the file's problem.
class FileProblems {
public:
    explicit FileProblems(std::function<void(const QString &)> tell) : tell_(std::move(tell)) {}
    void report(const QString &name, const QString &signature, const QString &text);

private:
    std::function<void(const QString &)> tell_;
    QHash<QString, QString> told_;   // per file, the signature of the problem told last
};

class SideFiles {
public:
    SideFiles(const QDir &folder, FileProblems &problems) : folder_(folder), problems_(problems) {}
    // Up to count items of the file; reports a missing or short file.
    QStringList items(const QString &name, int count);
    // The texts of the entries of a file whose entries are perRecord items
    // each, the text the one at textAt; *all are the file's items.
    QStringList entries(const QString &name, int entries, int perRecord, int textAt, QStringList *all);

private:
    // Per file, the contents read last and what they gave.
    struct Known {
        QByteArray bytes;
        int count = -1;
        QStringList items;
        QString signature, report;   // of a short file; empty when it was read whole
        QStringList texts;           // of entries(), for this layout:
        int textsPerRecord = 0, textAt = 0;
    };
    QDir folder_;
    FileProblems &problems_;
    QHash<QString, Known> known_;
    QByteArray buffer_;   // what items() reads each file into
};

}  // namespace kalvet
