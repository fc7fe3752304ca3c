#include "SampleCollection.h"

#include <QBuffer>
#include <QImage>

#include <filesystem>
#include <fstream>

namespace sample {
namespace {

std::uint64_t hashOf(const std::string& text)
{
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::uint64_t nextRandom(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ull; // splitmix64
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::size_t sizeFor(const std::string& suffix, std::uint64_t hash)
{
    if (suffix == "c.jpg")
        return 12000 + hash % 40000;
    if (suffix == "_full.png")
        return 11000 + hash % 60000;
    if (suffix == "d.bmp" || suffix == "e.bmp")
        return 600 + hash % 7400;
    return 1 + hash % 8000; // ".inf"
}

// A small picture, drawn once and written with Qt's own image writer.
std::string pictureOf(const char* format)
{
    QImage image(8, 6, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 30, y * 40, (x + y) * 15));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes.toStdString();
}

struct SmallPictures
{
    std::string jpeg;
    std::string png;
    std::string bmp;
};

const SmallPictures& smallPictures()
{
    static const SmallPictures pictures{pictureOf("JPG"), pictureOf("PNG"), pictureOf("BMP")};
    return pictures;
}

void putBigEndian(std::string& bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += char(value >> shift);
}

void setLittleEndian(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (8 * i));
}

std::uint32_t crc32Of(const std::string& bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The picture grown to the size with filler its format passes over, so that every card has a
// whole picture of its own: comment segments after a JPEG's start, a private chunk before a
// PNG's end, a gap before a BMP's pixels.
std::string pictureOfSize(const std::string& suffix, std::size_t size, std::uint64_t seed)
{
    if (suffix == "c.jpg") {
        const std::string& jpeg = smallPictures().jpeg;
        std::string comments;
        for (std::size_t left = size - jpeg.size(); left > 0;) {
            // A segment holds at most 65533 bytes and needs 4 of its own; none is left shorter.
            const std::size_t take = left > 65537 ? std::min<std::size_t>(65537, left - 4) : left;
            const std::size_t data = take - 4;
            comments += "\xFF\xFE";
            comments += char((data + 2) >> 8);
            comments += char((data + 2) & 0xFF);
            comments += fillerBytes(data, seed + left);
            left -= data + 4;
        }
        return jpeg.substr(0, 2) + comments + jpeg.substr(2);
    }
    if (suffix == "_full.png") {
        const std::string& png = smallPictures().png;
        constexpr std::size_t kEndChunk = 12;
        const std::string chunk = pngChunk("kxFl", fillerBytes(size - png.size() - 12, seed));
        return png.substr(0, png.size() - kEndChunk) + chunk + png.substr(png.size() - kEndChunk);
    }
    const std::string& bmp = smallPictures().bmp;
    const std::size_t pixelsAt = std::uint8_t(bmp[10]) | std::uint8_t(bmp[11]) << 8;
    const std::size_t gap = size - bmp.size();
    std::string picture = bmp.substr(0, pixelsAt) + fillerBytes(gap, seed) + bmp.substr(pixelsAt);
    setLittleEndian(picture, 2, std::uint32_t(picture.size()));
    setLittleEndian(picture, 10, std::uint32_t(pixelsAt + gap));
    return picture;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// A file that breaks its size rule: pictures cut short, small files grown too large, an
// empty info document.
std::string damaged(const std::string& suffix, const std::string& body, std::uint64_t seed)
{
    if (suffix == "c.jpg" || suffix == "_full.png")
        return body.substr(0, body.size() / 3);
    if (suffix == ".xml")
        return {};
    return body + fillerBytes(8001, seed);
}

} // namespace

std::string pngChunk(const std::string& type, const std::string& data)
{
    std::string chunk;
    putBigEndian(chunk, std::uint32_t(data.size()));
    chunk += type + data;
    putBigEndian(chunk, crc32Of(type + data));
    return chunk;
}

void drawPictures()
{
    smallPictures();
}

std::string cardName(std::size_t index)
{
    const char letter = char('a' + index % 4);
    const std::string number = std::to_string(index / 4 + 1);
    return letter + std::string(4 - std::min<std::size_t>(4, number.size()), '0') + number;
}

std::string fillerBytes(std::size_t size, std::uint64_t seed)
{
    std::string bytes(size, '\0');
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = nextRandom(state);
        for (std::size_t j = 0; j < 8 && i + j < size; ++j)
            bytes[i + j] = char(word >> (8 * j));
    }
    return bytes;
}

std::string assetBody(const std::string& card, const std::string& suffix)
{
    const std::uint64_t hash = hashOf(card + '/' + suffix);
    const std::size_t size = sizeFor(suffix, hash);
    if (suffix != ".inf")
        return pictureOfSize(suffix, size, hash);
    std::string body = fillerBytes(size, hash);
    const std::string magic = "[card]";
    body.replace(0, std::min(magic.size(), body.size()), magic.substr(0, body.size()));
    return body;
}

std::string infoBody(const std::string& card)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<cardinfo>\n  <card id=\"" + card +
           "\">\n    <name>Sample card " + card + "</name>\n    <rarity>" +
           std::to_string(hashOf(card) % 5 + 1) + "</rarity>\n  </card>\n</cardinfo>\n";
}

std::string localFileBody(const std::string& card, const std::string& localSuffix)
{
    if (localSuffix == ".xml")
        return infoBody(card);
    if (localSuffix == ".woxinf" || localSuffix == ".woxdld")
        return assetBody(card, ".inf");
    return assetBody(card, localSuffix);
}

std::size_t writeCollection(const std::string& dataFolder, const CollectionLayout& layout)
{
    std::uint64_t state = layout.seed;
    std::size_t broken = 0;
    for (std::size_t i = 0; i < layout.cards; ++i) {
        const std::string card = cardName(i);
        const std::filesystem::path folder = std::filesystem::path(dataFolder) / card;
        std::filesystem::create_directories(folder);
        for (const std::string& suffix : kLocalSuffixes) {
            const int roll = int(nextRandom(state) % 100);
            std::string body = localFileBody(card, suffix);
            if (roll < layout.missingPercent) {
                ++broken;
                continue;
            }
            if (roll < layout.missingPercent + layout.damagedPercent) {
                ++broken;
                body = damaged(suffix, body, state);
            }
            writeFile(folder / (card + suffix), body);
        }
    }
    return broken;
}

} // namespace sample
