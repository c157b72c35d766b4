// Reading texels back through the shared context: ColorPicker over the three ways a texture reaches an
// item (plain texture, atlas, layer), rectangle reads, premultiplied alpha, colour search and GL errors.

#include "luster/luster.h"
#include "quickscene.h"
#include "testenvironment.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QRunnable>
#include <QSGTexture>
#include <QSGTextureProvider>
#include <QSemaphore>
#include <QVector2D>
#include <QtTest>

#include <functional>

using namespace tundra::test;

namespace {
const QByteArray kScene = R"(
import QtQuick 2.15
import Trellis 1.0
Item {
    width: 400; height: 300
    property QImageTexture plain: QImageTexture { objectName: "plain" }
    property QImageTexture other: QImageTexture { objectName: "other" }
    TextureView { objectName: "plainView"; x: 0; y: 0; width: 64; height: 64; source: plain }
    TextureView { objectName: "otherView"; x: 0; y: 100; width: 64; height: 64; source: other }
    Image { objectName: "atlasImage"; x: 100; y: 0; width: 64; height: 64; source: imageUrl; smooth: false }
    property url imageUrl
    Rectangle {
        objectName: "layered"; x: 200; y: 0; width: 64; height: 64; layer.enabled: true
        Rectangle { x: 0; y: 0; width: 32; height: 32; color: "#ff0000" }
        Rectangle { x: 32; y: 0; width: 32; height: 32; color: "#00ff00" }
        Rectangle { x: 0; y: 32; width: 32; height: 32; color: "#0000ff" }
        Rectangle { x: 32; y: 32; width: 32; height: 32; color: "#ffff00" }
    }
    Rectangle { objectName: "plainRect"; x: 300; width: 20; height: 20; color: "white" }
    function pickPoint(item, x, y, u) { return ColorPicker.pick(item, x, y) }
    function pickRect(item, r, u, v) { return ColorPicker.pick(item, r) }
    function average(item, r, u, v) { return ColorPicker.pickAverage(item, r) }
    function findColor(item, c, r, u) { return ColorPicker.pickColor(item, c, r) }
}
)";

QColor rgb(const QVariant &v)
{
    return v.value<QColor>();
}

struct MessageLog
{
    static QStringList &lines()
    {
        static QStringList l;
        return l;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        lines().append(
            QStringLiteral("%1|%2|%3").arg(int(type)).arg(QLatin1String(context.category), message));
    }
};
} // namespace

class tst_ColorPicker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void quadrantsOfEveryTextureKind_data();
    void quadrantsOfEveryTextureKind();
    void rectangleReadInRowOrder();
    void outsideAndDegenerateRequests();
    void premultipliedAlphaUndone();
    void largeAreaAverageIsExact();
    void pickColorNearestAndNone();
    void notAProviderWarns();
    void glErrorsReportedByName_data();
    void glErrorsReportedByName();
    void glErrorsDrainedWhenCategoryOff();

private:
    bool threadedLoop() const { return scene->view.openglContext()->thread() != QThread::currentThread(); }
    void inReadContext(const std::function<void(QOpenGLFunctions *)> &f);
    std::unique_ptr<QuickScene> scene;
};

namespace {
class Job : public QRunnable
{
public:
    Job(std::function<void()> f, QSemaphore *done) : m_f(std::move(f)), m_done(done) {}
    void run() override { m_f(); }
    ~Job() override { m_done->release(); }

private:
    std::function<void()> m_f;
    QSemaphore *m_done;
};
} // namespace

// Runs f with the context that ColorPicker reads the window's textures with current: the render
// thread's under the threaded loop, else the one Luster makes current here.
void tst_ColorPicker::inReadContext(const std::function<void(QOpenGLFunctions *)> &f)
{
    auto call = [f] { f(QOpenGLContext::currentContext()->functions()); };
    if (!threadedLoop()) {
        QVERIFY(Luster::makeCurrent());
        call();
        return;
    }
    QSemaphore done;
    scene->view.scheduleRenderJob(new Job(call, &done), QQuickWindow::NoStage);
    QVERIFY(done.tryAcquire(1, 30000));
}

void tst_ColorPicker::initTestCase()
{
    // Before any window has rendered, a context of this thread is already usable.
    Luster::init();
    QVERIFY(Luster::makeCurrent());
    QVERIFY(QOpenGLContext::currentContext());
    QCOMPARE(QOpenGLContext::currentContext()->thread(), QThread::currentThread());
    QVERIFY(!Luster::setRenderTarget(nullptr, 0));
    const QString png = freshDir(QStringLiteral("colorpicker")) + QStringLiteral("/quad.png");
    QVERIFY(quadrantImage(32).save(png));
    scene = std::make_unique<QuickScene>(kScene);
    QVERIFY2(scene->root, qPrintable(scene->errors));
    scene->root->setProperty("imageUrl", QUrl::fromLocalFile(png));
    scene->find("plain")->setProperty("source", quadrantImage(32));
    // Nothing has been drawn yet, and the texture can be read all the same.
    const QVariant plainView = QVariant::fromValue(scene->item("plainView"));
    QCOMPARE(rgb(scene->call("pickPoint", plainView, 48, 48)), QColor(255, 255, 0));
    QVERIFY(scene->show());
    QVERIFY(scene->renderFrame());
    QVERIFY(Luster::makeCurrent());
    QOpenGLContext *current = QOpenGLContext::currentContext();
    QCOMPARE(current->thread(), QThread::currentThread());
    QVERIFY(current->surface() != &scene->view);
    // The basic loop renders here: its context is the one that can bind the layers' framebuffers. A
    // render thread's context is never made current here.
    QCOMPARE(current == scene->view.openglContext(), !threadedLoop());
    // Rendering on llvmpipe can leave an error of its own behind; the reads below start clean.
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    for (int i = 0; i < 16 && f->glGetError() != GL_NO_ERROR; ++i) {
    }
}

void tst_ColorPicker::cleanupTestCase()
{
    scene.reset();
}

void tst_ColorPicker::quadrantsOfEveryTextureKind_data()
{
    QTest::addColumn<QString>("item");
    QTest::newRow("QImageTexture through TextureView") << "plainView";
    QTest::newRow("Image in the atlas") << "atlasImage";
    QTest::newRow("Rectangle with a layer") << "layered";
}

void tst_ColorPicker::quadrantsOfEveryTextureKind()
{
    QFETCH(QString, item);
    QQuickItem *target = scene->item(item.toLatin1().constData());
    QVERIFY(target);
    if (item == QLatin1String("atlasImage")) {
        // Providers are asked where the scene graph runs.
        bool inAtlas = false;
        inReadContext([&](QOpenGLFunctions *) {
            QSGTextureProvider *provider = target->textureProvider();
            inAtlas = provider && provider->texture() && provider->texture()->isAtlasTexture();
        });
        QVERIFY2(inAtlas, "the small image should live in the texture atlas");
    }
    const QVariant t = QVariant::fromValue(target);
    QCOMPARE(rgb(scene->call("pickPoint", t, 16, 16)), QColor(255, 0, 0));
    QCOMPARE(rgb(scene->call("pickPoint", t, 48, 16)), QColor(0, 255, 0));
    QCOMPARE(rgb(scene->call("pickPoint", t, 16, 48)), QColor(0, 0, 255));
    QCOMPARE(rgb(scene->call("pickPoint", t, 48, 48)), QColor(255, 255, 0));
    // The picker must not disturb what the window shows next.
    QVERIFY(scene->renderFrame());
    QCOMPARE(rgb(scene->call("pickPoint", t, 60, 60)), QColor(255, 255, 0));
}

void tst_ColorPicker::rectangleReadInRowOrder()
{
    const QVariant view = QVariant::fromValue(scene->item("plainView"));
    const QVariantList words = scene->call("pickRect", view, QRectF(0, 0, 64, 64)).toList();
    QCOMPARE(words.size(), 32 * 32);
    QCOMPARE(uint(words.at(0).toInt()), 0xffff0000u);           // texel (0, 0): red
    QCOMPARE(uint(words.at(31).toInt()), 0xff00ff00u);          // texel (31, 0): green
    QCOMPARE(uint(words.at(31 * 32).toInt()), 0xff0000ffu);     // texel (0, 31): blue
    QCOMPARE(uint(words.at(32 * 32 - 1).toInt()), 0xffffff00u); // texel (31, 31): yellow
    QVERIFY(words.at(0).toInt() < 0);

    // A sub-rectangle: item (30, 30)..(34, 34) is texels 15..16 in both directions.
    const QVariantList four = scene->call("pickRect", view, QRectF(30, 30, 4, 4)).toList();
    QCOMPARE(four.size(), 4);
    QCOMPARE(uint(four.at(0).toInt()), 0xffff0000u);
    QCOMPARE(uint(four.at(1).toInt()), 0xff00ff00u);
    QCOMPARE(uint(four.at(2).toInt()), 0xff0000ffu);
    QCOMPARE(uint(four.at(3).toInt()), 0xffffff00u);

    const QVariantList white =
        scene->call("pickRect", QVariant::fromValue(scene->item("layered")), QRectF(0, 0, 64, 64)).toList();
    QCOMPARE(white.size(), 64 * 64);
}

void tst_ColorPicker::outsideAndDegenerateRequests()
{
    const QVariant view = QVariant::fromValue(scene->item("plainView"));
    const double nan = qQNaN();
    const double inf = qInf();
    QCOMPARE(rgb(scene->call("pickPoint", view, 500, 10)), QColor(0, 0, 0, 255));
    QCOMPARE(rgb(scene->call("pickPoint", view, -5, 10)), QColor(0, 0, 0, 255));
    QCOMPARE(rgb(scene->call("pickPoint", view, nan, 10)), QColor(0, 0, 0, 255));
    QCOMPARE(rgb(scene->call("pickPoint", view, inf, inf)), QColor(0, 0, 0, 255));
    QCOMPARE(rgb(scene->call("pickPoint", view, 1e30, -1e30)), QColor(0, 0, 0, 255));
    QVERIFY(scene->call("pickRect", view, QRectF(0, 0, 1e12, 1e12)).toList().size() == 32 * 32);
    QVERIFY(scene->call("pickRect", view, QRectF(-1e12, -1e12, 2e12, 2e12)).toList().size() == 32 * 32);
    QVERIFY(scene->call("pickRect", view, QRectF(nan, 0, 10, 10)).toList().isEmpty());
    QVERIFY(scene->call("pickRect", view, QRectF(100, 100, 10, 10)).toList().isEmpty());
    QCOMPARE(scene->call("findColor", view, QColor(Qt::red), QRectF(inf, 0, 1, 1)).value<QVector2D>(),
             QVector2D(-1, -1));
    // A zero-sized request reads the one texel under the point.
    QCOMPARE(scene->call("pickRect", view, QRectF(63.9, 63.9, 0, 0)).toList().size(), 1);
}

void tst_ColorPicker::premultipliedAlphaUndone()
{
    QImage half(16, 16, QImage::Format_ARGB32);
    half.fill(QColor(255, 0, 0, 128));
    scene->find("other")->setProperty("source", half);
    QVERIFY(scene->renderFrame());
    const QVariant view = QVariant::fromValue(scene->item("otherView"));
    const QVariantList words = scene->call("pickRect", view, QRectF(0, 0, 4, 4)).toList();
    QVERIFY(!words.isEmpty());
    QCOMPARE(uint(words.at(0).toInt()), 0x80800000u); // stored premultiplied
    QCOMPARE(rgb(scene->call("average", view, QRectF(0, 0, 64, 64))), QColor(255, 0, 0, 255));

    QImage clear(16, 16, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    scene->find("other")->setProperty("source", clear);
    QVERIFY(scene->renderFrame());
    QCOMPARE(rgb(scene->call("average", view, QRectF(0, 0, 64, 64))), QColor(0, 0, 0, 255));
}

void tst_ColorPicker::largeAreaAverageIsExact()
{
    // 4 M texels: single-precision sums would drift far from the true average here.
    QImage big(2048, 2048, QImage::Format_ARGB32);
    big.fill(QColor(201, 77, 13));
    scene->find("other")->setProperty("source", big);
    QVERIFY(scene->renderFrame());
    const QVariant view = QVariant::fromValue(scene->item("otherView"));
    QCOMPARE(rgb(scene->call("average", view, QRectF(0, 0, 64, 64))), QColor(201, 77, 13));
}

void tst_ColorPicker::pickColorNearestAndNone()
{
    const QVariant view = QVariant::fromValue(scene->item("plainView"));
    const QRectF all(0, 0, 64, 64);
    // Green first appears at texel (16, 0): item position (32, 0).
    QCOMPARE(scene->call("findColor", view, QColor(0, 200, 0), all).value<QVector2D>(), QVector2D(32, 0));
    // Darker targets qualify every brighter pixel; nearest hue still wins.
    QCOMPARE(scene->call("findColor", view, QColor(0, 0, 90), all).value<QVector2D>(), QVector2D(0, 32));
    QCOMPARE(scene->call("findColor", view, QColor(100, 100, 0), all).value<QVector2D>(), QVector2D(32, 32));
    // White needs a channel sum of 765: no pixel qualifies.
    QCOMPARE(scene->call("findColor", view, QColor(Qt::white), all).value<QVector2D>(), QVector2D(-1, -1));
    // Black qualifies every pixel; yellow's chromaticity (127, 127, 0) is nearest to (0, 0, 0).
    QCOMPARE(scene->call("findColor", view, QColor(Qt::black), all).value<QVector2D>(), QVector2D(32, 32));
    // Equal distances: the first pixel in row order wins (red over the rest of its quadrant).
    QCOMPARE(scene->call("findColor", view, QColor(Qt::red), QRectF(0, 0, 32, 64)).value<QVector2D>(),
             QVector2D(0, 0));

    // A huge item keeps a sane scale: green's first column (16 of 32) lies at half the clamped width.
    QQuickItem *item = scene->item("plainView");
    item->setWidth(1e30);
    const QVector2D huge =
        scene->call("findColor", view, QColor(0, 200, 0), QRectF(0, 0, 1e30, 64)).value<QVector2D>();
    item->setWidth(64);
    QCOMPARE(huge, QVector2D(float(1 << 27), 0));
}

void tst_ColorPicker::notAProviderWarns()
{
    const QVariant rect = QVariant::fromValue(scene->item("plainRect"));
    QTest::ignoreMessage(QtWarningMsg, "ColorPicker: item should be textureProvider.");
    QCOMPARE(rgb(scene->call("pickPoint", rect, 1, 1)), QColor(0, 0, 0, 255));
    QTest::ignoreMessage(QtWarningMsg, "ColorPicker: item should be textureProvider.");
    QVERIFY(scene->call("pickRect", rect, QRectF(0, 0, 5, 5)).toList().isEmpty());
    QTest::ignoreMessage(QtWarningMsg, "ColorPicker: item should be textureProvider.");
    QCOMPARE(scene->call("findColor", rect, QColor(Qt::white), QRectF(0, 0, 5, 5)).value<QVector2D>(),
             QVector2D(-1, -1));
    QCOMPARE(rgb(scene->call("pickPoint", QVariant::fromValue<QQuickItem *>(nullptr), 1, 1)),
             QColor(Qt::black));
}

void tst_ColorPicker::glErrorsReportedByName_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::newRow("enum") << 0 << "GL_INVALID_ENUM";
    QTest::newRow("value") << 1 << "GL_INVALID_VALUE";
    QTest::newRow("operation") << 2 << "GL_INVALID_OPERATION";
}

void tst_ColorPicker::glErrorsReportedByName()
{
    QFETCH(int, kind);
    QFETCH(QString, name);
    inReadContext([kind](QOpenGLFunctions *f) {
        while (f->glGetError() != GL_NO_ERROR) {
        }
        if (kind == 0)
            f->glEnable(0x1234);
        else if (kind == 1)
            f->glLineWidth(-1.0f);
        else {
            f->glUseProgram(0);
            f->glUniform1f(0, 1.0f); // no program in use
        }
    });
    MessageLog::lines().clear();
    QtMessageHandler previous = qInstallMessageHandler(MessageLog::handler);
    const QColor c = rgb(scene->call("pickPoint", QVariant::fromValue(scene->item("plainView")), 16, 16));
    qInstallMessageHandler(previous);
    QCOMPARE(c, QColor(255, 0, 0));
    QCOMPARE(MessageLog::lines(),
             QStringList(QStringLiteral("%1|Trellis|OpenGL error [ %2 ]:  ColorPicker::readTextureData")
                             .arg(int(QtCriticalMsg))
                             .arg(name)));
    // Drained: the next read is clean.
    MessageLog::lines().clear();
    previous = qInstallMessageHandler(MessageLog::handler);
    scene->call("pickPoint", QVariant::fromValue(scene->item("plainView")), 16, 16);
    qInstallMessageHandler(previous);
    QVERIFY(MessageLog::lines().isEmpty());
}

void tst_ColorPicker::glErrorsDrainedWhenCategoryOff()
{
    QLoggingCategory::setFilterRules(QStringLiteral("Trellis.critical=false"));
    inReadContext([](QOpenGLFunctions *f) { f->glEnable(0x1234); });
    MessageLog::lines().clear();
    QtMessageHandler previous = qInstallMessageHandler(MessageLog::handler);
    scene->call("pickPoint", QVariant::fromValue(scene->item("plainView")), 16, 16);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(MessageLog::lines().isEmpty());
    GLenum left = GL_NO_ERROR;
    inReadContext([&left](QOpenGLFunctions *f) { left = f->glGetError(); });
    QCOMPARE(left, GLenum(GL_NO_ERROR));
}

QTEST_MAIN(tst_ColorPicker)
#include "tst_colorpicker.moc"
