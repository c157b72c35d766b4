#include "multimedia/comexception.h"

ComException::ComException(HRESULT hr, QString text) : m_hr(hr), m_text(std::move(text))
{
    if (m_text.isEmpty())
        m_text = hr == E_POINTER ? QStringLiteral("Null pointer") : QStringLiteral("Error");
    m_what = QStringLiteral("%1 (0x%2)")
                 .arg(m_text)
                 .arg(static_cast<quint32>(m_hr), 8, 16, QLatin1Char('0'))
                 .toUtf8();
}

void throwIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw ComException(hr);
}

QDebug operator<<(QDebug debug, const ComException &e)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << e.what();
    return debug;
}
