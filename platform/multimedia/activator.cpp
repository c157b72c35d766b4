#include "multimedia/activator.h"

#include "mf/attributesimpl.h"

#include <QThread>

Activator::Activator(QThread *thread, QObject *parent) : QObject(parent), m_worker(new QObject)
{
    nyx::multimedia::registerMetaTypes();
    if (thread)
        m_worker->moveToThread(thread);
}

Activator::~Activator()
{
    // The worker lives on the build thread: that thread deletes it, or its end does.
    if (!m_worker)
        return;
    QThread *thread = m_worker->thread();
    if (!thread || thread == QThread::currentThread() || thread->isFinished()) {
        delete m_worker.data();
    } else {
        connect(thread, &QThread::finished, m_worker.data(), &QObject::deleteLater);
        m_worker->deleteLater();
    }
}

void Activator::activate(CComPtr<IMFActivate> activate)
{
    const quint64 generation = ++m_generation;
    if (!activate) {
        emit activated(nullptr, ComException(E_POINTER));
        return;
    }
    QPointer<Activator> self(this);
    QMetaObject::invokeMethod(
        m_worker.data(),
        [self, activate, generation]() {
            CComPtr<IUnknown> object;
            HRESULT hr = E_UNEXPECTED;
            QString text; // the build step's own words for its failure, which the code alone lacks
            try {
                hr = activate->ActivateObject(IID_IUnknown, reinterpret_cast<void **>(&object));
            } catch (const ComException &e) {
                hr = e.getErrorCode();
                text = e.text();
            }
            if (SUCCEEDED(hr) && !object)
                hr = E_POINTER;
            if (FAILED(hr))
                object = nullptr;
            // The result goes back queued; a destroyed Activator drops it.
            Activator *target = self.data();
            if (!target)
                return;
            QMetaObject::invokeMethod(
                target,
                [self, object, hr, text, generation]() {
                    if (!self || self->m_generation.load() != generation)
                        return;
                    emit self->activated(object, hr < 0 ? ComException(hr, text) : ComException(S_OK));
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void Activator::cancel()
{
    ++m_generation;
}

namespace {
class FunctionActivate : public nyx::mf::AttributesImpl<nyx::com::ComObject<IMFActivate>>
{
public:
    explicit FunctionActivate(std::function<CComPtr<IUnknown>()> function) : m_function(std::move(function))
    {
    }

    HRESULT ActivateObject(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        CComPtr<IUnknown> made = m_function ? m_function() : nullptr;
        if (!made)
            return E_POINTER;
        return made->QueryInterface(riid, object);
    }
    HRESULT ShutdownObject() override { return S_OK; }
    HRESULT DetachObject() override { return S_OK; }

private:
    std::function<CComPtr<IUnknown>()> m_function;
};
} // namespace

CComPtr<IMFActivate> createActivate(std::function<CComPtr<IUnknown>()> function)
{
    CComPtr<IMFActivate> activate;
    activate.Attach(new FunctionActivate(std::move(function)));
    return activate;
}

namespace nyx::multimedia {
void registerMetaTypes()
{
    static const bool done = [] {
        qRegisterMetaType<CComPtr<IUnknown>>("CComPtr<IUnknown>");
        qRegisterMetaType<ComException>("ComException");
        return true;
    }();
    Q_UNUSED(done);
}
} // namespace nyx::multimedia
