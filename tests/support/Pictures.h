#pragma once

#include <QByteArray>
#include <QImage>

// Pictures as real writers make them: by Qt's own writers where they can, and by hand, byte by
// byte, where Qt writes no such file.
namespace pictures {

// A small drawing with a gradient, so that no writer can store it as one colour.
QImage drawn(int width, int height, QImage::Format format = QImage::Format_RGB888);
QByteArray written(const QImage& image, const char* format, bool progressive = false);

// A JPEG with an EXIF segment holding a thumbnail (a whole JPEG of its own) after its start
// marker; thumbnailEnd is set to the offset just past the thumbnail's end marker.
QByteArray withThumbnail(const QByteArray& jpeg, qsizetype& thumbnailEnd);

QByteArray pngChunk(const char* type, const QByteArray& data);
// The PNG with its header chunk saying that its pixels are interlaced (Adam7).
QByteArray interlaced(const QByteArray& png);
// The PNG with the chunk put just before its end chunk.
QByteArray beforeEnd(const QByteArray& png, const QByteArray& chunk);

// A BMP of 4 pixels by `height` rows: the file header, a bitmap header of the given size (12:
// the core one), then `extra` (colour masks or a palette) and the pixels.
QByteArray bmp(int headerSize, int height, int bitsPerPixel, int compression,
               const QByteArray& extra, const QByteArray& pixels);

// A GIF of the version ("GIF87a", "GIF89a") with a two-colour table: the blocks, then the
// trailer.
QByteArray gif(const char* version, const QByteArray& blocks);
// An image block whose pixels are the bytes as they are (nothing decodes them here).
QByteArray gifImage(const QByteArray& pixels);

} // namespace pictures
