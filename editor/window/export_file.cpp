#include "editor/window/export_file.h"

#include "common/files.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

namespace kalvet {

bool writeInstallationFile(const InstallationView &view, const QString &path, QString *error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const bool pdf = suffix == QStringLiteral("pdf");
    if (!pdf && suffix != QStringLiteral("html") && suffix != QStringLiteral("htm")) {
        *error = QStringLiteral("файл %1: нужно окончание .pdf или .html").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (const QString own = zuk::installationFileAt(view.folder, path); !own.isEmpty()) {
        *error = QStringLiteral("%1 — это %2; экспорт его не заменяет").arg(QDir::toNativeSeparators(path), own);
        return false;
    }
    const QString html = installationHtml(view);
    QByteArray bytes;
    if (!pdf) {
        bytes = html.toUtf8();
    } else {
        // The writer finishes the file when it goes out of scope.
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("Настройка контроллеров умного дома"));
        writer.setCreator(QStringLiteral("kalvet"));
        QTextDocument document;
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(8.5);
        document.setDefaultFont(font);
        document.setHtml(html);
        document.print(&writer);
    }
    return zuk::saveFileAtomically(path, bytes, error);
}

}  // namespace kalvet
