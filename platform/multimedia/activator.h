#pragma once
// Runs a build step (an activation object) on a given thread and hands the result back to the
// thread the Activator lives on.

#include "com/comptr.h"
#include "mf/mf.h"
#include "multimedia/comexception.h"

#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>

Q_DECLARE_METATYPE(CComPtr<IUnknown>)

class Activator : public QObject
{
    Q_OBJECT
public:
    // thread: where ActivateObject runs; null for the Activator's own thread.
    explicit Activator(QThread *thread, QObject *parent = nullptr);
    ~Activator() override;

    // Starts one activation; a result of an earlier one that has not arrived yet is dropped.
    void activate(CComPtr<IMFActivate> activate);
    // Drops the result of the activation under way.
    void cancel();

signals:
    // object is null exactly when error's code is below 0; a step that gives no object fails
    // with E_POINTER.
    void activated(CComPtr<IUnknown> object, ComException error);

private:
    QPointer<QObject> m_worker;
    std::atomic<quint64> m_generation{0};
};

// An activation object whose ActivateObject calls the function and queries its result.
CComPtr<IMFActivate> createActivate(std::function<CComPtr<IUnknown>()> function);

namespace nyx::multimedia {
// Registers the metatypes the media library passes across threads (once per process).
void registerMetaTypes();
} // namespace nyx::multimedia
