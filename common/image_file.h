#pragma once
// The image file zuk.txt: the register rows of all twenty controllers.

#include "common/address_map.h"
#include "common/text_file.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <span>

namespace zuk {

using ImageRow = std::array<qint16, kRowBytes>;
using SlotImage = std::array<ImageRow, kMaxRows>;
// The image of one installation: slots 0..19. Programs may keep more slots;
// only the first twenty are loaded and saved.
using RegisterImage = std::array<SlotImage, kSlotCount>;

struct ImageLoadResult {
    bool ok = false;
    QString failure;    // Russian description of what went wrong, empty on success
    int wholeSlots = 0; // slots 0..wholeSlots-1 were read whole (all twenty on success)
};

// Reads the items of an image file into image[0..19]. Header and label items
// are skipped unread; every row value must be a number item. Values read
// before a failure stay in the image, later ones keep what they held.
ImageLoadResult loadImage(ItemReader &reader, std::span<SlotImage> image);

// Loads the file at path.
ImageLoadResult loadImageFile(const QString &path, std::span<SlotImage> image);
// The same for bytes the caller has read from the file at path (which the
// failure names).
ImageLoadResult loadImageBytes(const QString &path, const QByteArray &bytes, std::span<SlotImage> image);

// The complete file for image[0..19]: 6716 lines, Windows-1251, CR LF.
// False (with *error saying why) when the texts of the file cannot be
// encoded, which happens only on a Qt without the code page.
bool imageFileBytes(std::span<const SlotImage> image, QByteArray *out, QString *error = nullptr);
// The same for callers that have no way to report a failure (tests, the
// simulator): a failure ends the program with the reason.
QByteArray imageFileBytes(std::span<const SlotImage> image);

// Before an image file that did not load whole is replaced: keeps it beside
// as PATH.bak-YYYYMMDD-HHMMSS (keepCopyBeside, common/files.h). Gives false
// when the file must not be replaced (no copy could be made); *notice then
// says why, and after a copy it names the copy. Nothing is kept of a file
// that is missing or no regular file: such a file holds no image.
bool keepDamagedImage(const QString &path, QString *notice);

// Lines a complete image file has.
int imageFileLineCount();

}  // namespace zuk
