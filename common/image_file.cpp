#include "common/image_file.h"

#include "common/files.h"

#include <QDir>
#include <QFileInfo>

namespace zuk {

ImageLoadResult loadImage(ItemReader &reader, std::span<SlotImage> image)
{
    Q_ASSERT(image.size() >= static_cast<size_t>(kSlotCount));
    for (const ControllerSlot &s : controllerMap()) {
        if (!reader.skip(1))
            return {false, reader.failureText(), s.slot};
        for (int r = 0; r < s.rows; ++r) {
            if (!reader.skip(1))
                return {false, reader.failureText(), s.slot};
            for (int b = 0; b < kRowBytes; ++b) {
                qint16 v = 0;
                if (!reader.readNumber(&v))
                    return {false, reader.failureText(), s.slot};
                image[s.slot][r][b] = v;
            }
        }
    }
    return {true, QString(), kSlotCount};
}

ImageLoadResult loadImageFile(const QString &path, std::span<SlotImage> image)
{
    QByteArray bytes;
    QString error;
    if (!readFileBytes(path, &bytes, &error))
        return {false, error};
    return loadImageBytes(path, bytes, image);
}

ImageLoadResult loadImageBytes(const QString &path, const QByteArray &bytes, std::span<SlotImage> image)
{
    ItemReader reader = ItemReader::fromBytes(bytes);
    ImageLoadResult result = loadImage(reader, image);
    if (!result.ok)
        result.failure = QDir::toNativeSeparators(path) + QStringLiteral(": ") + result.failure;
    return result;
}

bool imageFileBytes(std::span<const SlotImage> image, QByteArray *out, QString *error)
{
    Q_ASSERT(image.size() >= static_cast<size_t>(kSlotCount));
    ItemWriter w;
    for (const ControllerSlot &s : controllerMap()) {
        w.textLine(slotHeaderText(s.slot));
        for (int r = 0; r < s.rows; ++r) {
            w.textLine(rowLabelText(r));
            for (int b = 0; b < kRowBytes; ++b)
                w.numberLine(image[s.slot][r][b]);
        }
    }
    return w.bytes(out, error);
}

QByteArray imageFileBytes(std::span<const SlotImage> image)
{
    QByteArray out;
    QString error;
    if (!imageFileBytes(image, &out, &error))
        qFatal("zuk.txt: %s", qPrintable(error));
    return out;
}

bool keepDamagedImage(const QString &path, QString *notice)
{
    notice->clear();
    if (!QFileInfo(path).isFile())
        return true;
    QString copy, error;
    if (!keepCopyBeside(path, &copy, &error)) {
        *notice = QStringLiteral("Файл %1 не заменён: он загружен не полностью, а сохранить его копию не "
                                 "удалось (%2).")
                      .arg(visibleText(QDir::toNativeSeparators(path), 200), error);
        return false;
    }
    *notice = QStringLiteral("Файл %1 был загружен не полностью; прежний файл сохранён как %2.")
                  .arg(visibleText(QDir::toNativeSeparators(path), 200),
                       visibleText(QDir::toNativeSeparators(copy), 200));
    return true;
}

int imageFileLineCount()
{
    int lines = 0;
    for (const ControllerSlot &s : controllerMap())
        lines += 1 + 9 * s.rows;
    return lines;
}

}  // namespace zuk
