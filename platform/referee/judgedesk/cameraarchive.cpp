#include "cameraarchive.h"

#include "archive/archiveserver.h"
#include "com/com.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(1168); // ERROR_NOT_FOUND
constexpr HRESULT kMoreData = HRESULT_FROM_WIN32(234);  // ERROR_MORE_DATA
constexpr HRESULT kAlreadyExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
constexpr int kReadyPollMs = 20;
constexpr LONGLONG kStorageSize = 1LL << 30;
constexpr DWORD kStreamType = 3; // a stream created through the interface

QString fromField(const WCHAR *field)
{
    int n = 0;
    while (n < nyx::archive::kNameUnits && field[n])
        ++n;
    return QString::fromUtf16(field, n);
}

// The configuration has checked the name's length.
void toField(const QString &name, WCHAR *field)
{
    std::memset(field, 0, nyx::archive::kNameUnits * sizeof(WCHAR));
    const int n = std::min(name.size(), nyx::archive::kMaxNameUnits);
    std::memcpy(field, name.utf16(), static_cast<std::size_t>(n) * sizeof(WCHAR));
}

QString hresultText(HRESULT hr)
{
    return QStringLiteral("0x%1").arg(QString::number(static_cast<quint32>(hr), 16).toUpper(), 8,
                                      QLatin1Char('0'));
}

// Reads a list that may grow between its count and its read.
template <class Record, class Count, class Read>
HRESULT readList(std::vector<Record> *list, Count count, Read read)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        DWORD n = 0;
        HRESULT hr = count(&n);
        if (FAILED(hr))
            return hr;
        list->assign(n + 4, Record{});
        DWORD got = 0;
        hr = read(list->data(), static_cast<DWORD>(list->size()), &got);
        if (hr == kMoreData)
            continue;
        if (FAILED(hr))
            return hr;
        list->resize(std::min<std::size_t>(got, list->size()));
        return S_OK;
    }
    return kMoreData;
}

HRESULT formatAttributes(BYTE *block)
{
    CComPtr<IAttributeStore> store;
    const HRESULT hr = store.CoCreateInstance(CLSID_AttributeStore);
    if (FAILED(hr))
        return hr;
    return store->Bind(block, nyx::archive::kAttributeBlockSize, TRUE);
}
} // namespace

CameraArchive::CameraArchive(const QString &storageName, const QVector<DeskCamera> &cameras, QObject *parent)
    : QObject(parent), m_storageName(storageName), m_cameras(cameras), m_bindings(cameras.size())
{
    for (int i = 0; i < m_cameras.size(); ++i) {
        if (m_cameras[i].streamName.isEmpty())
            m_bindings[i].id = nyx::com::fromQUuid(m_cameras[i].streamId);
    }
    m_readyTimer.setSingleShot(true);
    m_readyTimer.setInterval(kReadyPollMs);
    connect(&m_readyTimer, &QTimer::timeout, this, &CameraArchive::pollReady);
}

CameraArchive::~CameraArchive() = default;

void CameraArchive::open()
{
    if (m_state != State::Closed)
        return;
    nyx::archive::registerArchiveServer();
    const HRESULT hr = m_server.CoCreateInstance(CLSID_RewindServer);
    if (FAILED(hr) || !m_server) {
        close(QStringLiteral("opening the archive in %1").arg(nyx::archive::archiveRoot()),
              FAILED(hr) ? hr : E_FAIL);
        emit settled();
        return;
    }
    m_state = State::Opening;
    m_opening.start();
    pollReady();
}

void CameraArchive::pollReady()
{
    if (m_state != State::Opening)
        return;
    const HRESULT hr = m_server->IsReady();
    if (hr == E_PENDING || hr == E_NOINTERFACE) {
        if (m_opening.elapsed() < kReadyTimeoutMs) {
            m_readyTimer.start();
            return;
        }
        close(QStringLiteral("waiting for the archive server"), hr);
    } else if (FAILED(hr)) {
        close(QStringLiteral("starting the archive server"), hr);
    } else {
        QString what;
        const HRESULT bound = bindStreams(&what);
        if (FAILED(bound)) {
            close(what, bound);
        } else {
            m_state = State::Open;
            m_lastWarning.clear();
        }
    }
    emit settled();
}

HRESULT CameraArchive::bindStreams(QString *what)
{
    GUID storage{};
    bool haveStorage = false;
    for (int i = 0; i < m_cameras.size(); ++i) {
        const DeskCamera &camera = m_cameras[i];
        Binding &binding = m_bindings[i];
        binding.stream.Release();
        if (camera.streamName.isEmpty()) {
            const HRESULT hr = m_server->OpenStream(binding.id, &binding.stream);
            if (hr == kNotFound) {
                warn(
                    QStringLiteral(
                        "the stream %1 of camera '%2' is not in the archive: it reports its configured times")
                        .arg(nyx::com::toString(binding.id), camera.name));
                continue;
            }
            if (FAILED(hr)) {
                *what = QStringLiteral("opening the stream %1").arg(nyx::com::toString(binding.id));
                return hr;
            }
            continue;
        }
        if (!haveStorage) {
            const HRESULT hr = findOrCreateStorage(&storage);
            if (FAILED(hr)) {
                *what = QStringLiteral("creating the storage '%1'").arg(m_storageName);
                return hr;
            }
            haveStorage = true;
        }
        const HRESULT hr = findOrCreateStream(storage, camera.streamName, &binding);
        if (FAILED(hr)) {
            *what = QStringLiteral("creating the stream '%1' in the storage '%2'")
                        .arg(camera.streamName, m_storageName);
            return hr;
        }
    }
    return S_OK;
}

HRESULT CameraArchive::findOrCreateStorage(GUID *id)
{
    for (int attempt = 0;; ++attempt) {
        std::vector<ArchiveStorageRecord> storages;
        HRESULT hr = readList(
            &storages, [this](DWORD *n) { return m_server->GetStorageCount(n); },
            [this](ArchiveStorageRecord *r, DWORD capacity, DWORD *n) {
                return m_server->GetStorages(r, capacity, n);
            });
        if (FAILED(hr))
            return hr;
        for (const ArchiveStorageRecord &s : storages) {
            if (fromField(s.name) == m_storageName) {
                *id = s.storageId;
                return S_OK;
            }
        }
        if (attempt > 0)
            return kNotFound; // reported as existing, yet not listed

        ULONGLONG mask = 0;
        if (FAILED(hr = m_server->GetDriveMask(&mask)))
            return hr;
        if (!mask)
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND); // no usable drive
        ArchiveMinimumSizeRecord minimum{};
        if (FAILED(hr = m_server->GetMinimumStorageSize(&minimum)))
            return hr;
        auto block = std::make_unique<CreateStorageBlock>();
        std::memset(block.get(), 0, sizeof *block);
        toField(m_storageName, block->name);
        block->version = 1;
        while (!(mask & (1ULL << block->driveIndex)))
            ++block->driveIndex;
        block->size = std::max(kStorageSize, minimum.minimumSize);
        if (FAILED(hr = formatAttributes(block->attributes)))
            return hr;
        hr = m_server->CreateStorage(block.get(), nullptr);
        if (SUCCEEDED(hr)) {
            *id = block->storageId;
            return S_OK;
        }
        if (hr != kAlreadyExists)
            return hr;
        // Another process created it meanwhile: list again.
    }
}

HRESULT CameraArchive::findOrCreateStream(const GUID &storage, const QString &name, Binding *binding)
{
    for (int attempt = 0;; ++attempt) {
        std::vector<ArchiveStreamHead> streams;
        HRESULT hr = readList(
            &streams, [&](DWORD *n) { return m_server->GetStreamCount(storage, n); },
            [&](ArchiveStreamHead *h, DWORD capacity, DWORD *n) {
                return m_server->GetStreams(storage, h, capacity, n);
            });
        if (FAILED(hr))
            return hr;
        for (const ArchiveStreamHead &s : streams) {
            if (fromField(s.name) == name) {
                binding->id = s.streamId;
                return m_server->OpenStream(s.streamId, &binding->stream);
            }
        }
        if (attempt > 0)
            return kNotFound;

        auto record = std::make_unique<ArchiveStreamRecord>();
        std::memset(record.get(), 0, sizeof *record);
        record->head.storageId = storage;
        toField(name, record->head.name);
        record->head.streamType = kStreamType;
        if (FAILED(hr = formatAttributes(record->attributes)))
            return hr;
        hr = m_server->CreateStream(record.get(), nullptr);
        if (SUCCEEDED(hr)) {
            binding->id = record->head.streamId;
            return m_server->OpenStream(binding->id, &binding->stream);
        }
        if (hr != kAlreadyExists)
            return hr;
    }
}

bool CameraArchive::readCameras(QVector<CameraTimes> *cameras)
{
    const auto fillIds = [this, cameras] {
        cameras->fill(CameraTimes(), m_bindings.size());
        for (int i = 0; i < m_bindings.size(); ++i)
            (*cameras)[i].id = nyx::com::toQUuid(m_bindings[i].id);
    };
    fillIds();
    if (m_state != State::Open)
        return false;
    // A stream deleted behind JudgeDesk's back is found or made again, once per answer.
    for (int pass = 0; pass < 2; ++pass) {
        bool vanished = false;
        for (int i = 0; i < m_bindings.size() && !vanished; ++i) {
            Binding &binding = m_bindings[i];
            if (!binding.stream) {
                // A named stream is made again; one named by its id may have come back.
                if (!m_cameras[i].streamName.isEmpty()) {
                    vanished = pass == 0;
                    continue;
                }
                if (FAILED(m_server->OpenStream(binding.id, &binding.stream)))
                    continue; // not in the archive
            }
            ArchiveStreamInfo info{};
            const HRESULT hr = m_server->GetStreamInfo(binding.id, &info);
            if (hr == kNotFound && pass == 0) {
                vanished = true;
            } else if (hr == kNotFound) {
                binding.stream.Release();
            } else if (FAILED(hr)) {
                close(QStringLiteral("reading the stream %1").arg(nyx::com::toString(binding.id)), hr);
                fillIds();
                return false;
            } else {
                (*cameras)[i].fromArchive = true;
                (*cameras)[i].begin = info.startTime;
                (*cameras)[i].end = info.endTime;
            }
        }
        if (!vanished)
            return true;
        QString what;
        const HRESULT hr = bindStreams(&what);
        if (FAILED(hr)) {
            close(what, hr);
            fillIds();
            return false;
        }
        fillIds();
    }
    return true;
}

void CameraArchive::close(const QString &what, HRESULT hr)
{
    m_readyTimer.stop();
    for (Binding &binding : m_bindings)
        binding.stream.Release();
    m_server.Release();
    m_state = State::Closed;
    warn(QStringLiteral("%1 failed (%2): the cameras report their configured times")
             .arg(what, hresultText(hr)));
}

void CameraArchive::warn(const QString &text)
{
    // A failure that lasts is told once, not on every answer.
    if (text == m_lastWarning)
        return;
    m_lastWarning = text;
    qWarning("JudgeDesk: %s", qPrintable(text));
}
