#include "drivesupdater.h"

#include "archivemetatypes.h"
#include "multimedia/comexception.h"
#include "drive.h"
#include "objectdeleter.h"
#include "rewindservicelogging.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

DrivesUpdater::DrivesUpdater(IRewindServer *server, const QSharedPointer<QTimer> &timer,
                             const QSharedPointer<QThread> &thread)
    : m_server(server), m_timer(timer), m_thread(thread)
{
    registerRewindServiceMetaTypes();
    updateDrives();
}

DrivesUpdater::~DrivesUpdater() = default;

void DrivesUpdater::ResetRewind(IRewindServer *rewindService)
{
    if (rewindService != m_server.p)
        m_server = rewindService;
    updateDrives();
}

void DrivesUpdater::updateDrives()
{
    if (!m_server) {
        if (!m_drives.isEmpty()) {
            m_drives.clear();
            m_driveMask = 0;
            emit drivesChanged(m_drives);
        }
        return;
    }
    try {
        ULONGLONG mask = 0;
        throwIfFailed(m_server->GetDriveMask(&mask));
        if (mask == m_driveMask)
            return;

        QList<QSharedPointer<Drive>> drives;
        drives.reserve(qPopulationCount(mask));
        for (int n = 0; n < 64; ++n) {
            const quint64 bit = 1ULL << n;
            if (!(mask & bit))
                continue;
            QSharedPointer<Drive> drive;
            if (m_driveMask & bit) {
                for (const auto &existing : qAsConst(m_drives))
                    if (existing->index() == n)
                        drive = existing;
            }
            if (!drive) {
                drive = makeThreadShared(new Drive(m_server, n, m_timer, m_thread));
                if (QCoreApplication::instance())
                    drive->moveToThread(QCoreApplication::instance()->thread());
            }
            drives.append(drive);
        }
        m_drives = drives;
        m_driveMask = mask;
        emit drivesChanged(m_drives);
    } catch (const ComException &e) {
        qCWarning(lcRewindService) << "Failed to update drives info:" << e;
    }
}
