#include "multimedia/nodes/pcmconvert.h"

#include <QtEndian>

#include <cmath>

namespace nyx::multimedia {

QByteArray floatToInt16(const QByteArray &floats)
{
    const int count = floats.size() / 4;
    QByteArray out(count * 2, Qt::Uninitialized);
    const uchar *in = reinterpret_cast<const uchar *>(floats.constData());
    uchar *to = reinterpret_cast<uchar *>(out.data());
    for (int i = 0; i < count; ++i) {
        const float value = qFromLittleEndian<float>(in + 4 * i);
        qint16 sample = 0;
        if (!std::isnan(value)) {
            const float scaled = std::nearbyint(value * 32768.0f);
            sample = qint16(scaled >= 32767.0f ? 32767 : scaled <= -32768.0f ? -32768 : int(scaled));
        }
        qToLittleEndian<qint16>(sample, to + 2 * i);
    }
    return out;
}

QByteArray int16ToFloat(const QByteArray &ints)
{
    const int count = ints.size() / 2;
    QByteArray out(count * 4, Qt::Uninitialized);
    const uchar *in = reinterpret_cast<const uchar *>(ints.constData());
    uchar *to = reinterpret_cast<uchar *>(out.data());
    for (int i = 0; i < count; ++i)
        qToLittleEndian<float>(float(qFromLittleEndian<qint16>(in + 2 * i)) / 32768.0f, to + 4 * i);
    return out;
}

} // namespace nyx::multimedia
