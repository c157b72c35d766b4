#pragma once
// Reads one drive's name and figures on the worker thread.

#include "archive/irewindserver.h"
#include "com/comptr.h"

#include <QObject>

class DriveInfoUpdater : public QObject
{
    Q_OBJECT
public:
    DriveInfoUpdater(IRewindServer *server, int index);

    int index() const { return m_index; }
    QString name() const { return m_name; }
    qlonglong size() const { return m_size; }
    qlonglong freeSize() const { return m_freeSize; }
    qlonglong usedSize() const { return m_usedSize; }

signals:
    void nameChanged(QString value);
    void sizeChanged(qlonglong value);
    void freeSizeChanged(qlonglong value);
    void usedSizeChanged(qlonglong value);

public slots:
    void updateInfo();

private:
    CComPtr<IRewindServer> m_server;
    int m_index;
    QString m_name;
    qlonglong m_size = 0;
    qlonglong m_freeSize = 0;
    qlonglong m_usedSize = 0;
};
