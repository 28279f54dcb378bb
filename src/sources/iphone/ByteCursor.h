#pragma once

#include <QByteArray>

#include <cstdint>
#include <cstring>

// A read position in bytes that came from a file. Every read is checked
// against what remains: a read that does not fit moves nothing, answers false
// and marks the cursor failed, so a parser written as a chain of reads stops
// at the first damage without ever touching a byte past the end.
namespace vtr {

class ByteCursor
{
public:
    explicit ByteCursor(const QByteArray &data, qint64 position = 0)
        : m_data(reinterpret_cast<const unsigned char *>(data.constData())), m_size(data.size()),
          m_pos(position < 0 ? m_size + 1 : position)
    {
        if (m_pos > m_size) m_failed = true;
    }

    qint64 position() const { return m_pos; }
    qint64 size() const { return m_size; }
    qint64 remaining() const { return m_pos <= m_size ? m_size - m_pos : 0; }
    bool atEnd() const { return m_pos >= m_size; }
    bool failed() const { return m_failed; }
    const unsigned char *data() const { return m_data; }

    bool has(qint64 count) const { return !m_failed && count >= 0 && count <= remaining(); }

    bool skip(qint64 count)
    {
        if (!has(count)) return fail();
        m_pos += count;
        return true;
    }

    // Unsigned integers of 1, 2, 4 or 8 bytes in either byte order.
    template <typename T> bool readBE(T *out) { return readInt(out, true); }
    template <typename T> bool readLE(T *out) { return readInt(out, false); }

    // `count` bytes as a copy.
    bool readBytes(qint64 count, QByteArray *out)
    {
        if (!has(count)) return fail();
        *out = QByteArray(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(count));
        m_pos += count;
        return true;
    }

private:
    template <typename T> bool readInt(T *out, bool bigEndian)
    {
        static_assert(sizeof(T) <= 8);
        if (!has(qint64(sizeof(T)))) return fail();
        quint64 value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            const size_t index = bigEndian ? i : sizeof(T) - 1 - i;
            value = (value << 8) | m_data[m_pos + qint64(index)];
        }
        *out = T(value);
        m_pos += qint64(sizeof(T));
        return true;
    }

    bool fail()
    {
        m_failed = true;
        return false;
    }

    const unsigned char *m_data;
    qint64 m_size;
    qint64 m_pos;
    bool m_failed = false;
};

} // namespace vtr
