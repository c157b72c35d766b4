#include "fakecastoptions.h"

namespace {
quint16 toPort(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    return ok && value <= 0xFFFF ? static_cast<quint16>(value) : 0;
}
} // namespace

bool FakecastOptions::parse(const QStringList &arguments, FakecastOptions *options)
{
    FakecastOptions result;
    QString ar = QStringLiteral("127.0.0.1");
    QString vs = ar;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &option = arguments.at(i);
        const bool takesValue = option == QLatin1String("-ar") || option == QLatin1String("-vs") ||
                                option == QLatin1String("-pf") || option == QLatin1String("-pc");
        if (!takesValue)
            continue;
        // An option without its value is an incomplete command line.
        if (i + 1 >= arguments.size())
            return false;
        const QString &value = arguments.at(++i);
        if (option == QLatin1String("-ar"))
            ar = value;
        else if (option == QLatin1String("-vs"))
            vs = value;
        else if (option == QLatin1String("-pf"))
            result.portFeedback = toPort(value);
        else
            result.portControl = toPort(value);
    }
    result.arAddress = QHostAddress(ar);
    result.vsAddress = QHostAddress(vs);
    if (result.portFeedback == 0 || result.portControl == 0 || result.arAddress.isNull() ||
        result.vsAddress.isNull())
        return false;
    if (options)
        *options = result;
    return true;
}

QByteArray FakecastOptions::usage()
{
    return QByteArrayLiteral("Usage: Fakecast.exe\n"
                             "\t-ar <AR address>\n"
                             "\t-vs <VS address>\n"
                             "\t-pf <port feedback>\n"
                             "\t-pc <port control>\n");
}
