#include "cards/WholePicture.h"

#include <QByteArrayView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr qsizetype kBytesShown = 16;

// How a walk over a picture's structure ended.
enum class Walk
{
    Whole,
    CutShort, // the bytes ran out before the structure's end
    Damaged   // the structure is broken, or holds no picture
};

// The bytes of a picture, read from a position that only moves forward.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}

    qsizetype size() const { return m_bytes.size(); }
    // Whether this many bytes are left from the position.
    bool has(qint64 count) const { return count >= 0 && count <= m_bytes.size() - m_at; }
    void skip(qint64 count) { m_at += qsizetype(count); }
    std::uint8_t byte(qsizetype offset = 0) const { return std::uint8_t(m_bytes[m_at + offset]); }
    std::uint32_t bigEndian(qsizetype offset, int width) const
    {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i)
            value = (value << 8) | byte(offset + i);
        return value;
    }
    std::uint32_t littleEndian(qsizetype offset, int width) const
    {
        std::uint32_t value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = (value << 8) | byte(offset + i);
        return value;
    }
    QByteArrayView view(qsizetype offset, qsizetype count) const
    {
        return m_bytes.sliced(m_at + offset, count);
    }
    // Moves to the next byte of this value; false, and at the end, when there is none.
    bool skipTo(std::uint8_t value)
    {
        const void* found =
            std::memchr(m_bytes.data() + m_at, value, size_t(m_bytes.size() - m_at));
        m_at = found ? qsizetype(static_cast<const char*>(found) - m_bytes.data()) : m_bytes.size();
        return found != nullptr;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

// --- JPEG ---

bool isJpegFrame(std::uint8_t marker)
{
    // SOF0 to SOF15, less DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool isJpegRestart(std::uint8_t marker)
{
    return marker >= 0xD0 && marker <= 0xD7;
}

// Entropy-coded data holds FF only stuffed (FF 00), as a restart marker or as fill before a
// marker: it ends at the first other marker, where the reader is left.
Walk skipScanData(Reader& reader)
{
    for (;;) {
        if (!reader.skipTo(0xFF) || !reader.has(2))
            return Walk::CutShort;
        const std::uint8_t next = reader.byte(1);
        if (next == 0x00 || isJpegRestart(next))
            reader.skip(2);
        else if (next == 0xFF)
            reader.skip(1);
        else
            return Walk::Whole;
    }
}

// From the start-of-image marker through the segments, each passed over by its own length (so
// that an embedded thumbnail's markers are never seen), and the scans to the end-of-image
// marker, with at least one frame and one scan on the way.
Walk walkJpeg(Reader reader)
{
    reader.skip(2);
    bool frame = false;
    bool scan = false;
    for (;;) {
        // Only fill bytes belong between segments; libjpeg passes over stray ones as well.
        if (!reader.skipTo(0xFF))
            return Walk::CutShort;
        while (reader.has(1) && reader.byte() == 0xFF)
            reader.skip(1);
        if (!reader.has(1))
            return Walk::CutShort;
        const std::uint8_t marker = reader.byte();
        reader.skip(1);
        if (marker == 0xD9)
            return frame && scan ? Walk::Whole : Walk::Damaged;
        if (marker == 0x00 || marker == 0xD8)
            return Walk::Damaged;
        if (isJpegRestart(marker) || marker == 0x01) // no length of their own
            continue;
        if (!reader.has(2))
            return Walk::CutShort;
        const std::uint32_t length = reader.bigEndian(0, 2);
        if (length < 2)
            return Walk::Damaged;
        if (!reader.has(length))
            return Walk::CutShort;
        reader.skip(length);
        frame = frame || isJpegFrame(marker);
        if (marker == 0xDA) {
            if (!frame)
                return Walk::Damaged;
            scan = true;
            if (const Walk data = skipScanData(reader); data != Walk::Whole)
                return data;
        }
    }
}

// --- PNG ---

// CRC-32 eight bytes at a time ("slicing by 8"): table k gives a byte's CRC after k more zero
// bytes. A byte at a time, the check would cost more than the store it guards.
constexpr auto kCrcTables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (std::size_t n = 0; n < 256; ++n)
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    }
    return tables;
}();

std::uint32_t crc32Of(QByteArrayView bytes)
{
    const auto& t = kCrcTables;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto word = [](const std::uint8_t* at) {
        return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
               std::uint32_t(at[3]) << 24;
    };
    std::uint32_t crc = 0xFFFFFFFFu;
    qsizetype left = bytes.size();
    for (; left >= 8; left -= 8, data += 8) {
        const std::uint32_t low = word(data) ^ crc;
        const std::uint32_t high = word(data + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
              t[4][low >> 24] ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^
              t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; left > 0; --left, ++data)
        crc = t[0][(crc ^ *data) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

// Chunk by chunk, each length checked against what is left and each CRC verified, from IHDR
// through at least one IDAT to IEND.
Walk walkPng(Reader reader)
{
    reader.skip(8);
    bool pixels = false;
    for (bool first = true;; first = false) {
        if (!reader.has(8))
            return Walk::CutShort;
        const std::uint32_t length = reader.bigEndian(0, 4);
        if (length > 0x7FFFFFFFu)
            return Walk::Damaged;
        if (!reader.has(12 + qint64(length)))
            return Walk::CutShort;
        const QByteArrayView type = reader.view(4, 4);
        if (crc32Of(reader.view(4, 4 + length)) != reader.bigEndian(8 + length, 4) ||
            first != (type == "IHDR"))
            return Walk::Damaged;
        pixels = pixels || type == "IDAT";
        reader.skip(12 + qint64(length));
        if (type == "IEND")
            return pixels ? Walk::Whole : Walk::Damaged;
    }
}

// --- GIF ---

// A colour table, when the flags announce one.
Walk skipColourTable(Reader& reader, std::uint8_t flags)
{
    if (!(flags & 0x80))
        return Walk::Whole;
    const qint64 size = qint64(3) << ((flags & 0x07) + 1);
    if (!reader.has(size))
        return Walk::CutShort;
    reader.skip(size);
    return Walk::Whole;
}

// One leading byte (an extension's label, or the pixels' first code size), then sub-blocks,
// each led by its size, up to the empty one.
Walk skipLedSubBlocks(Reader& reader)
{
    if (!reader.has(1))
        return Walk::CutShort;
    reader.skip(1);
    for (;;) {
        if (!reader.has(1))
            return Walk::CutShort;
        const std::uint8_t size = reader.byte();
        reader.skip(1);
        if (size == 0)
            return Walk::Whole;
        if (!reader.has(size))
            return Walk::CutShort;
        reader.skip(size);
    }
}

// Block by block (extensions, image descriptors with their pixels' sub-blocks) to the
// trailer, with at least one image on the way.
Walk walkGif(Reader reader)
{
    constexpr qsizetype kHeaderAndScreen = 13;
    constexpr qsizetype kImageDescriptor = 9;
    if (!reader.has(kHeaderAndScreen))
        return Walk::CutShort;
    const std::uint8_t screenFlags = reader.byte(10);
    reader.skip(kHeaderAndScreen);
    Walk block = skipColourTable(reader, screenFlags);
    bool image = false;
    while (block == Walk::Whole) {
        if (!reader.has(1))
            return Walk::CutShort;
        const std::uint8_t introducer = reader.byte();
        reader.skip(1);
        if (introducer == 0x3B) // the trailer
            return image ? Walk::Whole : Walk::Damaged;
        if (introducer == 0x21) { // an extension
            block = skipLedSubBlocks(reader);
        } else if (introducer == 0x2C) { // an image: position, size, flags, then its pixels
            if (!reader.has(kImageDescriptor))
                return Walk::CutShort;
            const std::uint8_t flags = reader.byte(kImageDescriptor - 1);
            reader.skip(kImageDescriptor);
            block = skipColourTable(reader, flags);
            if (block == Walk::Whole)
                block = skipLedSubBlocks(reader);
            image = true;
        } else {
            return Walk::Damaged;
        }
    }
    return block;
}

// --- BMP ---

// A run-length stream up to its end-of-bitmap mark.
Walk walkRunLengths(Reader reader, bool fourBitPixels)
{
    for (;;) {
        if (!reader.has(2))
            return Walk::CutShort;
        const std::uint8_t count = reader.byte();
        const std::uint8_t value = reader.byte(1);
        reader.skip(2);
        if (count > 0 || value == 0) // a run, or the end of a line
            continue;
        if (value == 1) // the end of the bitmap
            return Walk::Whole;
        // A move by (x, y), or that many pixels as they are, padded to whole 16-bit words.
        qint64 bytes = value == 2 ? 2 : fourBitPixels ? (value + 1) / 2 : value;
        bytes += bytes & 1;
        if (!reader.has(bytes))
            return Walk::CutShort;
        reader.skip(bytes);
    }
}

// The file header and the bitmap header, then the pixels where the headers place them: rows
// of the declared size for uncompressed pixels; for compressed ones the declared image size
// or, where that is 0, the run-length stream's end-of-bitmap mark.
Walk walkBmp(Reader reader)
{
    const qint64 size = reader.size();
    constexpr qint64 kFileHeader = 14;
    constexpr qint64 kCoreHeader = 12;
    constexpr qint64 kInfoHeader = 40;
    if (!reader.has(kFileHeader + 4))
        return Walk::CutShort;
    const qint64 declaredSize = reader.littleEndian(2, 4);
    const qint64 pixelsAt = reader.littleEndian(10, 4);
    const qint64 infoSize = reader.littleEndian(14, 4);
    if (infoSize != kCoreHeader && infoSize < kInfoHeader)
        return Walk::Damaged;
    if (!reader.has(kFileHeader + infoSize) || declaredSize > size)
        return Walk::CutShort;
    if (pixelsAt < kFileHeader + infoSize)
        return Walk::Damaged;
    if (pixelsAt > size)
        return Walk::CutShort;

    const bool core = infoSize == kCoreHeader;
    // The core header's sizes are unsigned 16-bit; the others' signed 32-bit, a negative height
    // meaning rows from the top down.
    const auto sizeAt = [&](qsizetype coreOffset, qsizetype offset) {
        return core ? qint64(reader.littleEndian(coreOffset, 2))
                    : qint64(std::int32_t(reader.littleEndian(offset, 4)));
    };
    const qint64 width = sizeAt(18, 18);
    qint64 height = sizeAt(20, 22);
    const qint64 bitsPerPixel = reader.littleEndian(core ? 24 : 28, 2);
    const std::uint32_t compression = core ? 0 : reader.littleEndian(30, 4);
    const qint64 imageSize = core ? 0 : reader.littleEndian(34, 4);
    height = height < 0 ? -height : height;
    constexpr std::array<qint64, 8> kDepths{1, 2, 4, 8, 16, 24, 32, 64};
    if (width <= 0 || height == 0 ||
        std::find(kDepths.begin(), kDepths.end(), bitsPerPixel) == kDepths.end())
        return Walk::Damaged;

    const qint64 pixelBytes = size - pixelsAt;
    enum : std::uint32_t
    {
        Rgb = 0,
        Rle8 = 1,
        Rle4 = 2,
        BitFields = 3,
        Jpeg = 4,
        Png = 5,
        AlphaBitFields = 6
    };
    switch (compression) {
    case Rgb:
    case BitFields:
    case AlphaBitFields: {
        // Divided rather than multiplied: a hostile header's sizes would overflow the product.
        const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        return rowBytes <= pixelBytes / height ? Walk::Whole : Walk::CutShort;
    }
    case Rle8:
    case Rle4:
        if (bitsPerPixel != (compression == Rle8 ? 8 : 4))
            return Walk::Damaged;
        if (imageSize > 0)
            return imageSize <= pixelBytes ? Walk::Whole : Walk::CutShort;
        reader.skip(pixelsAt);
        return walkRunLengths(reader, compression == Rle4);
    case Jpeg:
    case Png:
        if (imageSize == 0)
            return Walk::Damaged;
        return imageSize <= pixelBytes ? Walk::Whole : Walk::CutShort;
    default:
        return Walk::Damaged;
    }
}

struct PictureFormat
{
    const char* name;
    QByteArrayView signature;
    Walk (*walk)(Reader reader);
};

const PictureFormat kFormats[] = {
    {"JPEG", "\xFF\xD8\xFF", &walkJpeg},
    {"PNG", "\x89PNG\r\n\x1A\n", &walkPng},
    {"BMP", "BM", &walkBmp},
    {"GIF", "GIF87a", &walkGif},
    {"GIF", "GIF89a", &walkGif},
};

} // namespace

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

QString wholePictureFault(const QByteArray& bytes)
{
    const QString fault =
        QStringLiteral("the answer is not a whole picture (%1 bytes").arg(bytes.size());
    if (bytes.isEmpty())
        return fault + u')';
    for (const PictureFormat& format : kFormats) {
        if (!bytes.startsWith(format.signature))
            continue;
        switch (format.walk(Reader(bytes))) {
        case Walk::Whole:
            return {};
        case Walk::CutShort:
            return fault + QStringLiteral(", a %1 cut short)").arg(QLatin1String(format.name));
        case Walk::Damaged:
            return fault + QStringLiteral(", a damaged %1)").arg(QLatin1String(format.name));
        }
    }
    return fault + QStringLiteral(", begins with \"%1\")").arg(beginningOf(bytes));
}
