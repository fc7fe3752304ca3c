#include "SampleCollection.h"

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
    return 1 + hash % 8000; // "d.bmp", "e.bmp", ".inf"
}

std::string magicFor(const std::string& suffix)
{
    if (suffix == "c.jpg")
        return std::string("\xFF\xD8\xFF\xE0", 4);
    if (suffix == "d.bmp" || suffix == "e.bmp")
        return "BM";
    if (suffix == "_full.png")
        return std::string("\x89PNG\r\n\x1A\n", 8);
    return "[card]";
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
    std::string body = fillerBytes(sizeFor(suffix, hash), hash);
    const std::string magic = magicFor(suffix);
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
