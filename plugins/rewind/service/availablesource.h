#pragma once
// One configured capture input: its display name, the archive stream that records it, its URL and
// the decoder that plays it back.

#include <QPair>
#include <QString>
#include <QUrl>

struct AvailableSource
{
    QString name;
    QString stream;
    QUrl source;
    int decoderKind = -1;
    int decoderIndex = 0;
};

// The decoder (kind, index) of a decoder name from available_videos.json; (-1, 0) for none.
QPair<int, int> ParseDecoderName(const QString &name);
