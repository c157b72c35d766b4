#pragma once
// Writes streams into a real archive folder as another recorder would.

#include "archive/archiveserver.h"
#include "com/com.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace archivesample {
constexpr LONGLONG kBase = 133000000000000000LL; // a FILETIME in 2022

// Points the archive server of this process at root, with no start-up delay.
void useRoot(const QString &root);
CComPtr<IRewindServer> server();

struct StreamSetup
{
    QString name;
    DWORD type = 7;
    double storedFrameRate = -1; // "FrameRate" attribute; below 0: none stored
    BYTE videoFlag = 1;          // flag of the "Video_1" channel: 0 a record in every frame, 1 sparse
};
// Creates a stream (in a storage named "Storage", made on first use); its id.
GUID createStream(IRewindServer *server, const StreamSetup &setup);

struct Record
{
    LONGLONG time;
    QByteArray video;
    bool key;
};
// Writes the records as samples, "Video_1" data and an empty "KeyFrame" blob on key frames. With
// keepOpen the writer stays started (the stream is being recorded) and is handed out.
HRESULT writeRecords(IRewindServer *server, const GUID &stream, const std::vector<Record> &records,
                     CComPtr<IArchiveWriter> *keepOpen = nullptr, bool markKeys = true);
} // namespace archivesample
