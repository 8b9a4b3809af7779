#pragma once
// The images kept in the folder history/ beside zuk.txt: the house as a
// writing run found it before it changed (--changed-only, --backup-first)
// and every zuk.txt a reading run replaced (--history).
//
// Each image is a complete image file named zuk-YYYYMMDD-HHMMSS.txt after
// the local time it was kept; a second one within the same second gets
// zuk-YYYYMMDD-HHMMSS-2.txt, then -3, ...: a kept image is never
// overwritten. Newest means the latest time, within one second the highest
// number.

#include "common/files.h"
#include "common/image_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <vector>

namespace zuk::history {

constexpr int kDefaultKeep = 50;

// The folder of the history of the installation in folder.
QString folderOf(const QString &installation);
// history/ as a folder of the installation (installationFileAt,
// common/files.h): no option that names a file to write may write there.
OwnFolder ownFolder();

struct Entry {
    QString name;        // zuk-20261209-135001-2.txt
    QString path;
    QDateTime time;      // from the name
    int number = 1;      // 1, 2, 3 ... within the same second
};

// Whether name is one of the history's file names; *entry gets its time and
// number.
bool parseName(const QString &name, Entry *entry);

// The images in history/, newest first. Other files are not listed.
std::vector<Entry> entries(const QString &installation);

// Keeps the bytes of an image file in history/ (made when missing) under the
// name for `when`, written completely before it gets the name.
bool keep(const QString &installation, const QByteArray &imageBytes, const QDateTime &when, QString *savedPath,
          QString *error);

// Removes the oldest images beyond the newest `count`. Only images the
// history itself writes count and are removed: a regular file (no link)
// under a name of parseName that loads whole as an image and may be written
// (a read-only one the user has protected stays, and so does any other
// file). Never removed: the images at `spares` (the one just kept, the one
// just restored), which count as kept wherever their names sort (a clock set
// back gives an older name), the newest by name and the newest by time of
// keeping (modification time). *removed gets the names removed, *error
// those that could not be.
int prune(const QString &installation, int count, QString *error, const QStringList &spares = {},
          QStringList *removed = nullptr);

// Removes what a killed keep left in history/: temporaries
// zuk-YYYYMMDD-HHMMSS[-N].txt.tmp-XXXXXX older than startedAt. Returns how
// many.
int removeLeftoverTemporaries(const QString &installation, const QDateTime &startedAt);

// The controllers present in an image (presence marker not 0), as --tick
// writes them: "00,80,9C"; "none" when none is.
QString presentText(const RegisterImage &image);

// The bytes of rows 0..rows-1 of all slots that differ between a and b.
int differingBytes(const RegisterImage &a, const RegisterImage &b);

struct Listing {
    Entry entry;
    bool loaded = false;    // the image loaded whole
    QString present;        // presentText, when loaded
    int differences = -1;   // against zuk.txt; -1 when either did not load
};
// The images newest first, each compared with the installation's zuk.txt.
std::vector<Listing> listing(const QString &installation);
// One line of --history-list: name, controllers present, bytes differing
// from zuk.txt, tab-separated ("?" for what could not be loaded).
QString listingLine(const Listing &l);

}  // namespace zuk::history
