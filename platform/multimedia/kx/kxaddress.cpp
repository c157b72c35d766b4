#include "multimedia/kx/kxaddress.h"

#include <QRegularExpression>

namespace nyx::multimedia {

namespace {
const KXBoardInfo *findBoard(const QString &name)
{
    for (const KXBoardInfo &b : kxBoards())
        if (b.name == name)
            return &b;
    return nullptr;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}
} // namespace

const QVector<KXBoardInfo> &kxBoards()
{
    // NYX_KX_VIDEO_BOARDS fits the machine with more KX788 boards (1 to 8, each with four video
    // inputs, four stereo inputs and four outputs), for stations with more cameras.
    static const QVector<KXBoardInfo> boards = [] {
        const int count = qBound(1, qEnvironmentVariableIntValue("NYX_KX_VIDEO_BOARDS"), 8);
        QVector<KXBoardInfo> list;
        for (int i = 1; i <= count; ++i)
            list.append({QStringLiteral("KX788 Board %1").arg(i), 4, 4, 4});
        list.append({QStringLiteral("KX322 Board 1"), 0, 4, 0});
        return list;
    }();
    return boards;
}

QStringList kxOutputNames()
{
    QStringList names;
    for (const KXBoardInfo &b : kxBoards())
        for (int i = 1; i <= b.outputs; ++i)
            names << QStringLiteral("%1 Output %2").arg(b.name).arg(i);
    return names;
}

QString KXAddress::inputName() const
{
    return QStringLiteral("%1 %2 %3")
        .arg(board, kind == Kind::Video ? QStringLiteral("Input") : QStringLiteral("Stereo"))
        .arg(input);
}

QString KXAddress::outputName() const
{
    return QStringLiteral("%1 Output %2").arg(board).arg(input);
}

std::optional<KXAddress> KXAddress::parse(const QUrl &url, QString *error)
{
    if (url.scheme() != QLatin1String("kx") || !url.host().isEmpty()) {
        setError(error, QStringLiteral("not a capture board URL: %1").arg(url.toString()));
        return std::nullopt;
    }
    static const QRegularExpression pattern(QStringLiteral("^/(.+) (Input|Stereo) ([0-9]{1,3})( Stereo)?$"));
    const QRegularExpressionMatch m = pattern.match(url.path());
    if (!m.hasMatch() || (m.captured(2) == QLatin1String("Stereo") && !m.captured(4).isEmpty())) {
        setError(error, QStringLiteral("malformed capture board URL: %1").arg(url.toString()));
        return std::nullopt;
    }
    KXAddress a;
    a.board = m.captured(1);
    a.input = m.captured(3).toInt();
    a.kind = m.captured(2) == QLatin1String("Input") && m.captured(4).isEmpty() ? Kind::Video : Kind::Stereo;
    const KXBoardInfo *board = findBoard(a.board);
    if (!board) {
        setError(error, QStringLiteral("no capture board \"%1\" (URL %2)").arg(a.board, url.toString()));
        return std::nullopt;
    }
    const int count = a.kind == Kind::Video ? board->videoInputs : board->stereoInputs;
    if (a.input < 1 || a.input > count) {
        setError(error,
                 QStringLiteral("capture board \"%1\" has no %2 input %3 (it has %4)")
                     .arg(a.board, a.kind == Kind::Video ? QStringLiteral("video") : QStringLiteral("stereo"))
                     .arg(a.input)
                     .arg(count));
        return std::nullopt;
    }
    return a;
}

std::optional<KXAddress> KXAddress::parseOutput(const QString &name, QString *error)
{
    static const QRegularExpression pattern(QStringLiteral("^(.+) Output ([0-9]{1,3})$"));
    const QRegularExpressionMatch m = pattern.match(name);
    const KXBoardInfo *board = m.hasMatch() ? findBoard(m.captured(1)) : nullptr;
    const int n = m.captured(2).toInt();
    if (!board || n < 1 || n > board->outputs) {
        setError(error, QStringLiteral("no capture board output \"%1\"").arg(name));
        return std::nullopt;
    }
    KXAddress a;
    a.board = board->name;
    a.input = n;
    return a;
}

} // namespace nyx::multimedia
