#include "Pictures.h"

#include "SampleCollection.h"

#include <QBuffer>
#include <QImageWriter>

namespace pictures {
namespace {

QByteArray littleEndian(quint32 value, int width)
{
    QByteArray bytes;
    for (int i = 0; i < width; ++i)
        bytes += char(value >> (8 * i));
    return bytes;
}

// Data as GIF sub-blocks, each led by its size, and the empty one that ends them.
QByteArray subBlocks(const QByteArray& data)
{
    QByteArray blocks;
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray part = data.mid(at, 255);
        blocks += char(part.size()) + part;
    }
    return blocks + '\0';
}

} // namespace

QImage drawn(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x * y) % 256));
    }
    return image.convertToFormat(format);
}

QByteArray written(const QImage& image, const char* format, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray withThumbnail(const QByteArray& jpeg, qsizetype& thumbnailEnd)
{
    const QByteArray thumbnail = written(drawn(16, 12), "JPG");
    const QByteArray exif = QByteArray("Exif\0\0II*\0\x08\0\0\0", 14) + thumbnail;
    const qsizetype length = exif.size() + 2;
    const QByteArray segment = QByteArray("\xFF\xE1") + char(length >> 8) + char(length) + exif;
    thumbnailEnd = 2 + segment.size();
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    return QByteArray::fromStdString(sample::pngChunk(type, data.toStdString()));
}

QByteArray interlaced(const QByteArray& png)
{
    constexpr qsizetype kSignature = 8;
    constexpr qsizetype kHeaderData = 13;
    QByteArray header = png.mid(kSignature + 8, kHeaderData);
    header[12] = 1; // interlace method: Adam7
    return png.left(kSignature) + pngChunk("IHDR", header) + png.mid(kSignature + 12 + kHeaderData);
}

QByteArray beforeEnd(const QByteArray& png, const QByteArray& chunk)
{
    constexpr qsizetype kEndChunk = 12;
    return png.chopped(kEndChunk) + chunk + png.right(kEndChunk);
}

QByteArray bmp(int headerSize, int height, int bitsPerPixel, int compression,
               const QByteArray& extra, const QByteArray& pixels)
{
    constexpr int kWidth = 4;
    QByteArray header = littleEndian(quint32(headerSize), 4);
    if (headerSize == 12) {
        header += littleEndian(kWidth, 2) + littleEndian(quint32(height), 2) + littleEndian(1, 2) +
                  littleEndian(quint32(bitsPerPixel), 2);
    } else {
        header += littleEndian(kWidth, 4) + littleEndian(quint32(height), 4) + littleEndian(1, 2) +
                  littleEndian(quint32(bitsPerPixel), 2) + littleEndian(quint32(compression), 4);
        header = header.leftJustified(headerSize, '\0');
    }
    const auto pixelsAt = quint32(14 + header.size() + extra.size());
    return "BM" + littleEndian(pixelsAt + quint32(pixels.size()), 4) + littleEndian(0, 4) +
           littleEndian(pixelsAt, 4) + header + extra + pixels;
}

QByteArray gif(const char* version, const QByteArray& blocks)
{
    const QByteArray screen("\x04\0\x02\0\x80\0\0", 7); // 4 x 2, a table of two colours
    return version + screen + QByteArray("\0\0\0\xFF\xFF\xFF", 6) + blocks + ';';
}

QByteArray gifImage(const QByteArray& pixels)
{
    return QByteArray("\x2C\0\0\0\0\x04\0\x02\0\0\x02", 11) + subBlocks(pixels);
}

} // namespace pictures
