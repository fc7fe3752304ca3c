#pragma once

#include <QByteArray>
#include <QString>

// Why the bytes are not a whole picture, or an empty string when they are one. A whole picture
// is a JPEG, PNG, BMP or GIF whose structure is complete, judged by walking it from its
// signature: JPEG segments and scans to the end-of-image marker, PNG chunks with their CRCs to
// IEND, GIF blocks to the trailer, BMP pixels within the sizes its header gives. Whatever
// follows a complete picture (a phone's trailer, padding, a line end) is no fault. Busy servers
// answer with error pages, and cut connections leave pictures short: neither may replace a
// card's picture. Nothing is decoded; the walk takes time in proportion to the bytes.
QString wholePictureFault(const QByteArray& bytes);

// The first bytes of an answer as a reason shows them: printable ones as they are, the others
// as \xNN.
QString beginningOf(const QByteArray& bytes);
