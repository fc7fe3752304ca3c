#include "http/Inflate.h"

#include <zlib.h>

#include <array>

struct Inflater::Stream
{
    z_stream z = {};
    bool open = false;
    ~Stream()
    {
        if (open)
            inflateEnd(&z);
    }
};

namespace {
constexpr int kGzipOnly = 15 + 16;
constexpr int kZlibOrGzip = 15 + 32;
constexpr int kRawDeflate = -15;
} // namespace

Inflater::Inflater(Format format) : m_format(format)
{
    start(format == Format::Gzip ? kGzipOnly : kZlibOrGzip);
}

Inflater::~Inflater() = default;

bool Inflater::start(int windowBits)
{
    m_stream = std::make_unique<Stream>();
    m_stream->open = inflateInit2(&m_stream->z, windowBits) == Z_OK;
    return m_stream->open;
}

bool Inflater::feed(const char* data, std::size_t size, const Sink& sink)
{
    if (!m_error.isEmpty() || !m_stream->open)
        return false;
    if (m_complete && size > 0) { // bytes after the end are something else
        m_error = QStringLiteral("the answer holds more than its compressed data");
        return false;
    }
    std::array<unsigned char, 16384> out;
    z_stream& z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = uInt(size);
    do {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_DATA_ERROR && m_format == Format::Deflate && !m_triedRaw && !m_anyOutput &&
            z.total_in <= size) {
            // "deflate" without zlib's header, as some servers send it: read afresh as raw.
            m_triedRaw = true;
            return start(kRawDeflate) && feed(data, size, sink);
        }
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            m_error = QStringLiteral("the answer's compressed data is broken");
            return false;
        }
        const std::size_t produced = out.size() - z.avail_out;
        if (produced > 0) {
            m_anyOutput = true;
            if (!sink(reinterpret_cast<const char*>(out.data()), produced))
                return false;
        }
        m_complete = status == Z_STREAM_END;
        if (status == Z_BUF_ERROR) // nothing more to do with what was given
            break;
    } while (!m_complete && (z.avail_in > 0 || z.avail_out == 0));
    if (m_complete && z.avail_in > 0) {
        m_error = QStringLiteral("the answer holds more than its compressed data");
        return false;
    }
    return true;
}
