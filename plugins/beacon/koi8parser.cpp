#include "koi8parser.h"

#include <QDebug>
#include <QTextCodec>

qint64 KOI8Parser::parse(const char *data, size_t size)
{
    // Codecs live as long as the process; the lookup by name is not cheap.
    static QTextCodec *const codec = QTextCodec::codecForName("KOI8-R");
    if (!codec) {
        qDebug("Failed to create KOI8-R codec!");
        return -1;
    }
    for (size_t i = 0; i < size; ++i) {
        m_buffer[m_count++] = data[i];
        if (m_count == m_buffer.size()) {
            // A record without NUL ends at its last byte.
            const void *nul = std::memchr(m_buffer.data(), '\0', m_buffer.size());
            const auto length = nul ? static_cast<const char *>(nul) - m_buffer.data()
                                    : static_cast<ptrdiff_t>(m_buffer.size());
            m_strings.append(codec->toUnicode(m_buffer.data(), static_cast<int>(length)));
            m_buffer.fill('\0');
            m_count = 0;
        }
    }
    return static_cast<qint64>(size);
}

QVector<QString> KOI8Parser::takeStrings()
{
    QVector<QString> strings;
    strings.swap(m_strings);
    return strings;
}

void KOI8Parser::reset()
{
    m_strings.clear();
    m_buffer.fill('\0');
    m_count = 0;
}
