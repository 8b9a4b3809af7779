// The image file loader on arbitrary bytes: it loads or fails with a message.
// An image that loaded is written out and must load again to the same values.
#include "common/image_file.h"

#include <cstdlib>
#include <memory>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    auto image = std::make_unique<zuk::RegisterImage>();
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    const zuk::ImageLoadResult result = zuk::loadImage(reader, *image);
    check(result.ok == result.failure.isEmpty());
    if (!result.ok)
        return 0;

    QByteArray written;
    check(zuk::imageFileBytes(*image, &written));
    check(written.count('\n') == zuk::imageFileLineCount());
    auto again = std::make_unique<zuk::RegisterImage>();
    zuk::ItemReader back = zuk::ItemReader::fromBytes(written);
    check(zuk::loadImage(back, *again).ok);
    check(*again == *image);
    return 0;
}
