#include "driveinfoupdater.h"

#include "multimedia/comexception.h"
#include "rewindservicelogging.h"

DriveInfoUpdater::DriveInfoUpdater(IRewindServer *server, int index) : m_server(server), m_index(index)
{
    updateInfo();
}

void DriveInfoUpdater::updateInfo()
{
    try {
        if (!m_server)
            throw ComException(E_POINTER);
        LONGLONG size = 0, freeSize = 0, usedSize = 0;
        CComBSTR name;
        throwIfFailed(m_server->GetDriveInfo(m_index, &size, &freeSize, &usedSize, &name));
        if (size != m_size) {
            m_size = size;
            emit sizeChanged(size);
        }
        if (freeSize != m_freeSize) {
            m_freeSize = freeSize;
            emit freeSizeChanged(freeSize);
        }
        if (usedSize != m_usedSize) {
            m_usedSize = usedSize;
            emit usedSizeChanged(usedSize);
        }
        const QString text = name.toQString();
        if (text != m_name) {
            m_name = text;
            emit nameChanged(text);
        }
    } catch (const ComException &e) {
        qCCritical(lcRewindService) << "Failed to update drive info:" << e;
    }
}
