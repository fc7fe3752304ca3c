#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The generated sample card collection: names of cards and the exact bytes the sample card
// server serves for each of their files. The same card and suffix always give the same bytes.
namespace sample {

// The suffixes the asset server serves, and the suffixes of the files in a card folder.
inline const std::vector<std::string> kServedSuffixes{"c.jpg", "d.bmp", "e.bmp", ".inf",
                                                      "_full.png"};
inline const std::vector<std::string> kLocalSuffixes{"c.jpg",   "d.bmp", "e.bmp",    ".woxinf",
                                                     ".woxdld", ".xml",  "_full.png"};

// The i-th card of the collection (from 0): a0001, b0001, c0001, d0001, a0002, ...
std::string cardName(std::size_t index);

// Draws, once, the small pictures that every served picture grows from. Qt's image writers
// load their plugins on first use, and finding the plugins' files matches a regular expression,
// whose per-thread stack the thread keeps; with MinGW's runtime, freeing it as a thread of
// ours ends can crash. So the pictures are drawn on the thread that starts a server, before the
// server's own threads run.
void drawPictures();

// What the asset server serves for the card's file with that suffix: whole pictures for
// "c.jpg" (a JPEG from 12000 bytes), "d.bmp" and "e.bmp" (BMPs of 600 to 8000 bytes) and
// "_full.png" (a PNG from 11000 bytes), and 1 to 8000 bytes for ".inf".
std::string assetBody(const std::string& card, const std::string& suffix);
// The card-info document of the card.
std::string infoBody(const std::string& card);
// What a complete card folder holds in the file with that local suffix.
std::string localFileBody(const std::string& card, const std::string& localSuffix);

// A PNG chunk: length, type, data and CRC.
std::string pngChunk(const std::string& type, const std::string& data);

// Deterministic filler bytes.
std::string fillerBytes(std::size_t size, std::uint64_t seed);

// How the local sample folder is laid out.
struct CollectionLayout
{
    std::size_t cards = 40;
    std::uint64_t seed = 1;
    // Share of files (in percent) that are missing, and that are damaged (cut short or
    // grown past their size rule).
    int missingPercent = 15;
    int damagedPercent = 10;
};

// Writes card folders under the data folder (which must exist), some files missing, some
// damaged and the rest good. Returns the number of files left missing or damaged.
std::size_t writeCollection(const std::string& dataFolder, const CollectionLayout& layout);

} // namespace sample
