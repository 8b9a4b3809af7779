// Loading a file of the installation: a regular file of a sane size only,
// opened without blocking.

#include "common/file_paths.h"
#include "common/file_system.h"
#include "common/files.h"

#include <algorithm>

namespace zuk {

using file_paths::native;

bool readFileBytes(const QString &path, QByteArray *out, QString *error)
{
    auto fail = [&](const QString &why) {
        out->clear();
        if (error)
            *error = QStringLiteral("не удалось открыть файл %1: %2").arg(native(path), why);
        return false;
    };
    auto notRegular = [] { return QStringLiteral("это не обычный файл (папка, устройство или канал)"); };
    auto tooLarge = [] {
        return QStringLiteral("файл больше %1 МиБ, такого файла установки не бывает").arg(kMaxLoadBytes / (1024 * 1024));
    };
    QString readError;
    platform::SourceFile file;
    switch (file.open(path, &readError)) {
    case platform::SourceFile::Opened::Failed:
        return fail(readError);
    case platform::SourceFile::Opened::NotRegular:
        return fail(notRegular());
    case platform::SourceFile::Opened::Ok:
        break;
    }
    const qint64 size = file.size();
    if (size > kMaxLoadBytes)
        return fail(tooLarge());
    auto readSome = [&](char *to, qint64 n) { return file.read(to, n, &readError); };
    // At most one byte past the limit: a file that grew while being read is
    // refused as well. The size it has now, and one byte more, is read first,
    // into the storage *out has when that is large enough; only a file that
    // grew is read on.
    const qint64 first = std::min<qint64>(size, kMaxLoadBytes) + 1;
    QByteArray &bytes = *out;
    bytes.resize(first);
    qint64 got = readSome(bytes.data(), first);
    if (got == first) {
        bytes.resize(kMaxLoadBytes + 1);
        const qint64 more = readSome(bytes.data() + got, kMaxLoadBytes + 1 - got);
        got = more < 0 ? more : got + more;
    }
    if (got < 0) {
        bytes.clear();
        if (error)
            *error = QStringLiteral("не удалось прочитать файл %1: %2").arg(native(path), readError);
        return false;
    }
    bytes.resize(got);
    if (got > kMaxLoadBytes)
        return fail(tooLarge());
    return true;
}

}  // namespace zuk
