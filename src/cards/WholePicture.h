#pragma once

#include <QByteArray>
#include <QString>

// Why the bytes are not a whole picture, or an empty string when they are one. A whole picture
// is a JPEG, PNG, BMP or GIF judged from its bytes alone: the format's signature at the start
// and its end there too (JPEG's end-of-image marker, PNG's IEND chunk, GIF's trailer, or BMP's
// header sizes within the bytes). Busy servers answer with error pages, and cut connections
// leave pictures short: neither may replace a card's picture.
QString wholePictureFault(const QByteArray& bytes);
