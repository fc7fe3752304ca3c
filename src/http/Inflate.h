#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

// Decodes a body a server compressed (gzip, deflate) piece by piece as it arrives, so that
// every limit applies to the decoded bytes and memory stays bounded however far a small body
// would expand.
class Inflater
{
public:
    enum class Format
    {
        Gzip,
        Deflate // zlib's format, or raw deflate as some servers send it
    };
    // Takes one decoded piece; false stops the decoding.
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    explicit Inflater(Format format);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Decodes the bytes into the sink. False when they are broken or the sink stopped.
    bool feed(const char* data, std::size_t size, const Sink& sink);
    // Whether the compressed data came to its end.
    bool isComplete() const { return m_complete; }
    // Why feed() failed, when the data was broken.
    const QString& error() const { return m_error; }

private:
    bool start(int windowBits);

    struct Stream;
    std::unique_ptr<Stream> m_stream;
    Format m_format;
    bool m_anyOutput = false;
    bool m_triedRaw = false;
    bool m_complete = false;
    QString m_error;
};
