#include "com/com.h"

#include <QtTest>

namespace {
const IID IID_ICounter = {0x6a1b2c3d, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
const IID IID_INamed = {0x6a1b2c3e, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x67}};
const CLSID CLSID_Counter = {0x7b000001, 0x2222, 0x4333, {0x94, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x77}};
} // namespace

struct ICounter : IUnknown
{
    virtual int next() = 0;
};
struct INamed : IUnknown
{
    virtual QString name() = 0;
};
NYX_DECLARE_IID(ICounter, IID_ICounter)
NYX_DECLARE_IID(INamed, IID_INamed)

namespace {
int g_alive = 0;

class Counter : public nyx::com::ComObject<ICounter, INamed>
{
public:
    Counter() { ++g_alive; }
    ~Counter() override { --g_alive; }
    int next() override { return ++m_value; }
    QString name() override { return QStringLiteral("counter"); }

private:
    int m_value = 0;
};
} // namespace

class tst_Com : public QObject
{
    Q_OBJECT

private slots:
    void referenceCounting()
    {
        auto *object = new Counter;
        QCOMPARE(g_alive, 1);
        QCOMPARE(object->AddRef(), 2u);
        QCOMPARE(object->Release(), 1u);
        {
            CComPtr<ICounter> a;
            a.Attach(object);
            CComPtr<ICounter> b = a;
            QCOMPARE(object->refCount(), 2u);
            CComPtr<ICounter> c = std::move(b);
            QVERIFY(!b);
            QCOMPARE(object->refCount(), 2u);
            c.Release();
            QCOMPARE(object->refCount(), 1u);
            // Assigning a returned pointer moves it in: no extra reference, none lost.
            CComPtr<ICounter> d;
            d = CComPtr<ICounter>(a);
            QCOMPARE(object->refCount(), 2u);
            d = std::move(d);
            QCOMPARE(object->refCount(), 2u);
        }
        QCOMPARE(g_alive, 0);
    }

    void queryInterface()
    {
        CComPtr<ICounter> counter;
        counter.Attach(new Counter);
        CComPtr<INamed> named;
        QCOMPARE(counter.QueryInterface(&named), S_OK);
        QCOMPARE(named->name(), QStringLiteral("counter"));
        // Both interfaces lead to the same IUnknown: COM identity.
        CComPtr<IUnknown> u1, u2;
        QCOMPARE(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&u1)), S_OK);
        QCOMPARE(named->QueryInterface(IID_PPV_ARGS(u2.p)), S_OK);
        QCOMPARE(u1.p, u2.p);
        void *none = reinterpret_cast<void *>(1);
        QCOMPARE(counter->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
        QCOMPARE(none, nullptr);
        QCOMPARE(counter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    }

    void guidRoundTripKeepsWindowsLayout()
    {
        const GUID g = {0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
        // Data1..Data3 little-endian in memory, Data4 as bytes.
        const QByteArray bytes(reinterpret_cast<const char *>(&g), sizeof g);
        QCOMPARE(bytes.toHex(), QByteArray("0403020106050807090a0b0c0d0e0f10"));
        const QUuid u = nyx::com::toQUuid(g);
        QCOMPARE(u.toString(), QStringLiteral("{01020304-0506-0708-090a-0b0c0d0e0f10}"));
        QCOMPARE(nyx::com::fromQUuid(u), g);
        QCOMPARE(nyx::com::toString(g), QStringLiteral("{01020304-0506-0708-090A-0B0C0D0E0F10}"));
        OLECHAR buffer[39];
        QCOMPARE(StringFromGUID2(g, buffer, 39), 39);
        QCOMPARE(StringFromGUID2(g, buffer, 38), 0);
        CLSID parsed;
        QCOMPARE(CLSIDFromString(buffer, &parsed), S_OK);
        QCOMPARE(parsed, g);
    }

    void clsidFromStringIsStrict_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("braced") << "{7B000001-2222-4333-9444-555566667777}" << true;
        QTest::newRow("lower case") << "{7b000001-2222-4333-9444-555566667777}" << true;
        QTest::newRow("no braces") << "7B000001-2222-4333-9444-555566667777" << false;
        QTest::newRow("one brace") << "{7B000001-2222-4333-9444-555566667777" << false;
        QTest::newRow("trailing") << "{7B000001-2222-4333-9444-555566667777}x" << false;
        QTest::newRow("bad digit") << "{7B00000G-2222-4333-9444-555566667777}" << false;
        QTest::newRow("short group") << "{7B00001-2222-4333-9444-555566667777}" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("long garbage") << QString(200, QLatin1Char('{')) << false;
    }
    void clsidFromStringIsStrict()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        CLSID clsid = CLSID_Counter;
        const HRESULT hr = CLSIDFromString(reinterpret_cast<LPCOLESTR>(text.utf16()), &clsid);
        QCOMPARE(hr, valid ? S_OK : CO_E_CLASSSTRING);
        if (valid)
            QCOMPARE(clsid, CLSID_Counter);
        else
            QCOMPARE(clsid, GUID_NULL);
    }

    void bstrLengths()
    {
        const char16_t text[] = u"Tundra";
        BSTR s = SysAllocString(text);
        QCOMPARE(SysStringLen(s), 6u);
        QCOMPARE(SysStringByteLen(s), 12u);
        QCOMPARE(s[6], u'\0');
        SysFreeString(s);

        // Embedded NULs count: the length is the prefix, not the first NUL.
        const char16_t withNul[] = {u'a', 0, u'b'};
        s = SysAllocStringLen(withNul, 3);
        QCOMPARE(SysStringLen(s), 3u);
        QCOMPARE(s[2], u'b');
        SysFreeString(s);

        s = SysAllocStringLen(nullptr, 4);
        QCOMPARE(SysStringLen(s), 4u);
        QCOMPARE(s[0], u'\0');
        SysFreeString(s);

        s = SysAllocStringByteLen("abc", 3);
        QCOMPARE(SysStringByteLen(s), 3u);
        QCOMPARE(SysStringLen(s), 1u);
        SysFreeString(s);

        QCOMPARE(SysStringLen(nullptr), 0u);
        QCOMPARE(SysAllocString(nullptr), nullptr);
        SysFreeString(nullptr);

        CComBSTR owned(QStringLiteral("Камера 1"));
        QCOMPARE(owned.Length(), 8u);
        QCOMPARE(owned.toQString(), QStringLiteral("Камера 1"));
        CComBSTR copy = owned;
        QVERIFY(copy.m_str != owned.m_str);
        QCOMPARE(copy.toQString(), owned.toQString());
    }

    void coCreateInstanceUsesTheNewestRegistration()
    {
        CComPtr<ICounter> counter;
        QCOMPARE(counter.CoCreateInstance(CLSID_Counter), REGDB_E_CLASSNOTREG);
        QVERIFY(!counter);
        {
            nyx::com::ClassRegistration real(CLSID_Counter, [](REFIID riid, void **object) {
                CComPtr<ICounter> c;
                c.Attach(new Counter);
                return c->QueryInterface(riid, object);
            });
            QCOMPARE(counter.CoCreateInstance(CLSID_Counter), S_OK);
            QCOMPARE(counter->next(), 1);
            counter.Release();
            {
                nyx::com::ClassRegistration failing(CLSID_Counter, [](REFIID, void **) { return E_PENDING; });
                QCOMPARE(counter.CoCreateInstance(CLSID_Counter), E_PENDING);
                QVERIFY(!counter);
            }
            CComPtr<INamed> named;
            QCOMPARE(named.CoCreateInstance(CLSID_Counter), S_OK);
            QVERIFY(named);
        }
        QCOMPARE(g_alive, 0);
        void *object = nullptr;
        QCOMPARE(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_ICounter, &object),
                 REGDB_E_CLASSNOTREG);
        QCOMPARE(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_ALL, IID_ICounter, nullptr), E_POINTER);
    }

    void coInitializeCountsPerThread()
    {
        QCOMPARE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        QCOMPARE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        HRESULT other = E_FAIL;
        std::thread([&other] {
            other = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            CoUninitialize();
        }).join();
        QCOMPARE(other, S_OK);
        CoUninitialize();
        CoUninitialize();
        QCOMPARE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }

    void hresultValues()
    {
        QVERIFY(SUCCEEDED(S_FALSE));
        QVERIFY(FAILED(E_PENDING));
        QCOMPARE(static_cast<std::uint32_t>(E_PENDING), 0x8000000Au);
        QCOMPARE(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
        QCOMPARE(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), 0x80070005u);
        QCOMPARE(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
    }
};

QTEST_APPLESS_MAIN(tst_Com)
#include "tst_com.moc"
