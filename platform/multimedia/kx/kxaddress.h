#pragma once
// The virtual capture board's inputs and outputs, and the kx:/// URLs that name them:
// "kx:///<board> Input N" (video), "kx:///<board> Stereo N" and "kx:///<board> Input N Stereo" (audio).

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <optional>

namespace nyx::multimedia {

struct KXBoardInfo
{
    QString name; // "KX788 Board 1"
    int videoInputs = 0;
    int stereoInputs = 0;
    int outputs = 0; // video outputs, looped back to the video inputs of the same number
};

// The boards of this machine's capture card.
const QVector<KXBoardInfo> &kxBoards();
// The names of every video output, in board order ("KX788 Board 1 Output 1", ...).
QStringList kxOutputNames();

struct KXAddress
{
    enum class Kind
    {
        Video,
        Stereo
    };

    QString board;
    int input = 0; // 1-based
    Kind kind = Kind::Video;

    // "KX788 Board 1 Input 1" or "KX322 Board 1 Stereo 1".
    QString inputName() const;
    // The output looped back into this input ("KX788 Board 1 Output 1").
    QString outputName() const;

    // Parses a capture URL; on failure returns nullopt and a reason in *error.
    static std::optional<KXAddress> parse(const QUrl &url, QString *error = nullptr);
    // Parses an output name ("KX788 Board 1 Output 2"); the address is that of the input it feeds.
    static std::optional<KXAddress> parseOutput(const QString &name, QString *error = nullptr);
};

} // namespace nyx::multimedia
