#include "cards/WholePicture.h"

#include <cstdint>

namespace {

constexpr qsizetype kBytesShown = 16;

std::uint32_t littleEndian(const QByteArray& bytes, qsizetype at, int width)
{
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | std::uint8_t(bytes[at + i]);
    return value;
}

bool isWholeJpeg(const QByteArray& bytes)
{
    // Some writers pad after the end-of-image marker.
    qsizetype end = bytes.size();
    while (end > 0 && (bytes[end - 1] == '\0' || bytes[end - 1] == '\n' || bytes[end - 1] == '\r'))
        --end;
    return end >= 4 && bytes.left(end).endsWith("\xFF\xD9");
}

bool isWholePng(const QByteArray& bytes)
{
    static const QByteArray iendChunk("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    return bytes.size() >= 8 + 12 && bytes.endsWith(iendChunk);
}

bool isWholeGif(const QByteArray& bytes)
{
    return bytes.size() >= 6 + 7 + 1 && bytes.endsWith(';');
}

// The file header's sizes, and those of the pixel rows, must lie within the bytes.
bool isWholeBmp(const QByteArray& bytes)
{
    constexpr qsizetype kFileHeader = 14;
    constexpr qsizetype kCoreHeader = 12;
    if (bytes.size() < kFileHeader + kCoreHeader)
        return false;
    const qint64 size = bytes.size();
    const qint64 declaredSize = littleEndian(bytes, 2, 4);
    const qint64 pixelsAt = littleEndian(bytes, 10, 4);
    const qint64 infoSize = littleEndian(bytes, 14, 4);
    if (declaredSize > size || infoSize < kCoreHeader || kFileHeader + infoSize > pixelsAt ||
        pixelsAt > size)
        return false;

    qint64 width = 0;
    qint64 height = 0;
    qint64 bitsPerPixel = 0;
    qint64 compression = 0;
    qint64 imageSize = 0;
    if (infoSize == kCoreHeader) {
        width = littleEndian(bytes, 18, 2);
        height = littleEndian(bytes, 20, 2);
        bitsPerPixel = littleEndian(bytes, 24, 2);
    } else {
        if (kFileHeader + 40 > size)
            return false;
        width = std::int32_t(littleEndian(bytes, 18, 4));
        height = std::int32_t(littleEndian(bytes, 22, 4));
        bitsPerPixel = littleEndian(bytes, 28, 2);
        compression = littleEndian(bytes, 30, 4);
        imageSize = littleEndian(bytes, 34, 4);
    }
    height = height < 0 ? -height : height;
    if (width <= 0 || height == 0 || bitsPerPixel == 0 || bitsPerPixel > 64)
        return false;
    constexpr qint64 kUncompressed = 0;
    constexpr qint64 kBitFields = 3;
    if (compression != kUncompressed && compression != kBitFields)
        return pixelsAt + imageSize <= size;
    // Divided rather than multiplied: a hostile header's sizes would overflow the product.
    const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    return rowBytes <= (size - pixelsAt) / height;
}

struct PictureFormat
{
    const char* name;
    QByteArray signature;
    bool (*isWhole)(const QByteArray& bytes);
};

const PictureFormat kFormats[] = {
    {"JPEG", QByteArray("\xFF\xD8\xFF"), &isWholeJpeg},
    {"PNG", QByteArray("\x89PNG\r\n\x1A\n"), &isWholePng},
    {"BMP", QByteArray("BM"), &isWholeBmp},
    {"GIF", QByteArray("GIF87a"), &isWholeGif},
    {"GIF", QByteArray("GIF89a"), &isWholeGif},
};

// The first bytes, printable ones as they are and the others as \xNN.
QString beginningOf(const QByteArray& bytes)
{
    QString shown;
    for (const char c : bytes.left(kBytesShown)) {
        const auto byte = std::uint8_t(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\')
            shown += QChar(c);
        else
            shown +=
                QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
    }
    return shown;
}

} // namespace

QString wholePictureFault(const QByteArray& bytes)
{
    const QString fault =
        QStringLiteral("the answer is not a whole picture (%1 bytes").arg(bytes.size());
    if (bytes.isEmpty())
        return fault + u')';
    for (const PictureFormat& format : kFormats) {
        if (!bytes.startsWith(format.signature))
            continue;
        if (format.isWhole(bytes))
            return {};
        return fault + QStringLiteral(", a %1 cut short)").arg(QLatin1String(format.name));
    }
    return fault + QStringLiteral(", begins with \"%1\")").arg(beginningOf(bytes));
}
