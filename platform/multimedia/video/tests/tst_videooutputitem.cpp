// The video item in a real window: the grabbed pixels are the frame's colours (BT.709, video range),
// the frame keeps its aspect, the newest frame wins and the replaced ones are counted as dropped, a
// frame converted at a small size is made again when the view grows, frames from several threads at
// once are all accounted for and never drawn half-written.
// Run on the basic and threaded render loops and on the software back end.
#include "multimedia/video/videooutputitem.h"

#include <QQuickWindow>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

using namespace nyx::multimedia;

namespace {

// BT.709 video-range Y'CbCr of a full-range RGB colour, computed here independently of the item.
void yuv(QColor c, uchar &y, uchar &u, uchar &v)
{
    const double r = c.redF(), g = c.greenF(), b = c.blueF();
    const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    y = uchar(std::lround(16 + 219 * luma));
    u = uchar(std::lround(128 + 224 * (b - luma) / 1.8556));
    v = uchar(std::lround(128 + 224 * (r - luma) / 1.5748));
}

// A frame of four quadrants: top left, top right, bottom left, bottom right.
Nv12Frame quadrants(int w, int h, const QVector<QColor> &colours)
{
    Nv12Frame f = Nv12Frame::create(w, h);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            const QColor c = colours[(row >= h / 2) * 2 + (x >= w / 2)];
            uchar y, u, v;
            yuv(c, y, u, v);
            f.y()[row * w + x] = y;
            if (row % 2 == 0 && x % 2 == 0) {
                f.uv()[row / 2 * w + x] = u;
                f.uv()[row / 2 * w + x + 1] = v;
            }
        }
    return f;
}

bool near(QRgb got, QColor want, int tolerance = 8)
{
    return qAbs(qRed(got) - want.red()) <= tolerance && qAbs(qGreen(got) - want.green()) <= tolerance &&
           qAbs(qBlue(got) - want.blue()) <= tolerance;
}

QString describe(QRgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

} // namespace

class tst_VideoOutputItem : public QObject
{
    Q_OBJECT
private:
    QQuickWindow *m_window = nullptr;
    VideoOutputItem *m_item = nullptr;

    void checkPicture(const QSize &frameSize, const QVector<QColor> &colours)
    {
        const QImage shot = m_window->grabWindow();
        QVERIFY(!shot.isNull());
        const QRectF r = VideoOutputItem::fittedRect(m_item->size(), frameSize);
        const qreal sx = shot.width() / m_item->width(), sy = shot.height() / m_item->height();
        for (int q = 0; q < 4; ++q) {
            const QPointF p(r.left() + r.width() * (q % 2 ? 0.75 : 0.25),
                            r.top() + r.height() * (q / 2 ? 0.75 : 0.25));
            const QRgb got = shot.pixel(int(p.x() * sx), int(p.y() * sy));
            QVERIFY2(near(got, colours[q]), qPrintable(QStringLiteral("quadrant %1: %2, want %3")
                                                           .arg(q)
                                                           .arg(describe(got), describe(colours[q].rgb()))));
        }
        // Outside the fitted rectangle the window's own colour shows (letter- or pillar-box).
        if (r.top() >= 4)
            QVERIFY(near(shot.pixel(shot.width() / 2, int(r.top() / 2 * sy)), Qt::black, 2));
        if (r.left() >= 4)
            QVERIFY(near(shot.pixel(int(r.left() / 2 * sx), shot.height() / 2), Qt::black, 2));
    }

private slots:
    void initTestCase()
    {
        m_window = new QQuickWindow;
        m_window->setColor(Qt::black);
        m_window->resize(640, 480);
        m_item = new VideoOutputItem(m_window->contentItem());
        m_item->setSize(QSizeF(640, 480));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }
    void cleanupTestCase() { delete m_window; }

    void picture_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QVector<QColor>>("colours");
        QTest::newRow("16:9 letterbox") << QSize(320, 180)
                                        << QVector<QColor>{QColor(200, 40, 40), QColor(40, 200, 40),
                                                           QColor(40, 40, 200), QColor(128, 128, 128)};
        QTest::newRow("portrait pillarbox") << QSize(180, 320)
                                            << QVector<QColor>{QColor(230, 230, 30), QColor(30, 200, 220),
                                                               QColor(220, 40, 220), QColor(40, 40, 40)};
        QTest::newRow("4:3 fills") << QSize(640, 480)
                                   << QVector<QColor>{QColor(250, 250, 250), QColor(20, 20, 20),
                                                      QColor(255, 128, 0), QColor(0, 128, 255)};
        QTest::newRow("1080p") << QSize(1920, 1080)
                               << QVector<QColor>{QColor(180, 60, 100), QColor(60, 180, 100),
                                                  QColor(100, 60, 180), QColor(200, 200, 120)};
    }
    void picture()
    {
        QFETCH(QSize, frameSize);
        QFETCH(QVector<QColor>, colours);
        const int before = m_item->framesPresented();
        // Handed over from another thread, as the media pipeline does.
        std::thread([&] {
            m_item->present(quadrants(frameSize.width(), frameSize.height(), colours));
        }).join();
        QTRY_COMPARE(m_item->framesPresented(), before + 1);
        QCOMPARE(m_item->frameSize(), frameSize);
        checkPicture(frameSize, colours);
    }

    // Ten frames arrive before the window draws: only the last one is shown, nine are dropped.
    void newestWins()
    {
        const int presented = m_item->framesPresented(), dropped = m_item->framesDropped();
        const QVector<QColor> last{QColor(10, 200, 200), QColor(200, 10, 200), QColor(200, 200, 10),
                                   QColor(90, 90, 90)};
        std::thread([&] {
            for (int i = 0; i < 9; ++i)
                m_item->present(quadrants(320, 180, {QColor(i * 20, 0, 0), Qt::white, Qt::white, Qt::white}));
            m_item->present(quadrants(320, 180, last));
        }).join();
        QTRY_COMPARE(m_item->framesPresented(), presented + 1);
        QCOMPARE(m_item->framesDropped(), dropped + 9);
        checkPicture(QSize(320, 180), last);
        // Nothing more is drawn later: no frame was queued behind the one shown.
        QTest::qWait(200);
        QCOMPARE(m_item->framesPresented(), presented + 1);
    }

    // With a frame rate cap, two seconds of 25 fps frames are thinned to the cap by their times
    // before any conversion; a jump back in time (a new range) is shown at once.
    void maxFrameRate_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("shown");
        QTest::newRow("no cap") << 0 << 50;
        QTest::newRow("10 a second") << 10 << 20;
        QTest::newRow("1 a second") << 1 << 2;
        QTest::newRow("above the input's rate") << 30 << 50;
    }
    void maxFrameRate()
    {
        QFETCH(int, rate);
        QFETCH(int, shown);
        m_item->setMaxFrameRate(rate);
        const auto handled = [this] { return m_item->framesPresented() + m_item->framesDropped(); };
        const int before = handled();
        Nv12Frame frame = quadrants(320, 180, {Qt::red, Qt::green, Qt::blue, Qt::white});
        std::thread([&] {
            for (int i = 0; i < 50; ++i) {
                frame.time = 1000 + i * 400000LL;
                m_item->present(frame);
            }
            frame.time = 1000; // back to the start
            m_item->present(frame);
        }).join();
        QTRY_COMPARE(handled(), before + shown + 1);
        QTest::qWait(100);
        QCOMPARE(handled(), before + shown + 1);
        m_item->setMaxFrameRate(0);
    }

    void resizeKeepsAspect()
    {
        const QVector<QColor> c{QColor(200, 40, 40), QColor(40, 200, 40), QColor(40, 40, 200),
                                QColor(128, 128, 128)};
        m_item->present(quadrants(320, 180, c));
        QTRY_VERIFY(m_item->frameSize() == QSize(320, 180));
        m_window->resize(400, 600);
        m_item->setSize(QSizeF(400, 600));
        QTRY_COMPARE(m_window->size(), QSize(400, 600));
        QTest::qWait(100);
        checkPicture(QSize(320, 180), c);
    }

    void pictureSize_data()
    {
        QTest::addColumn<QSizeF>("view");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("want");
        QTest::newRow("letterbox") << QSizeF(640, 480) << QSize(1920, 1080) << QSize(640, 360);
        QTest::newRow("quarter") << QSizeF(480, 270) << QSize(1920, 1080) << QSize(480, 270);
        QTest::newRow("pillarbox") << QSizeF(640, 480) << QSize(1080, 1920) << QSize(270, 480);
        QTest::newRow("fractional device pixels")
            << QSizeF(479.5, 269.7) << QSize(1920, 1080) << QSize(480, 270);
        QTest::newRow("never above the frame") << QSizeF(1920, 1080) << QSize(320, 180) << QSize(320, 180);
        QTest::newRow("not laid out yet") << QSizeF(0, 0) << QSize(1920, 1080) << QSize(16, 16);
        QTest::newRow("tiny view") << QSizeF(10, 5.6) << QSize(1920, 1080) << QSize(16, 16);
        QTest::newRow("tiny frame") << QSizeF(0, 0) << QSize(8, 6) << QSize(8, 6);
        QTest::newRow("no frame") << QSizeF(640, 480) << QSize() << QSize();
    }
    void pictureSize()
    {
        QFETCH(QSizeF, view);
        QFETCH(QSize, frame);
        QFETCH(QSize, want);
        QCOMPARE(VideoOutputItem::pictureSize(view, frame), want);
    }

    // A frame shown in a small view, then the view grows with no new frame (a paused replay put in
    // full view): the picture is made again at the new size, its fine stripes sharp, not a blur.
    void growWhilePaused()
    {
        const int w = 640, h = 360;
        Nv12Frame f = Nv12Frame::create(w, h);
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; ++x)
                f.y()[row * w + x] = (x / 4) % 2 ? 235 : 16;
        std::fill(f.uv(), f.uv() + w * h / 2, uchar(128));
        m_window->resize(w, h);
        QTRY_COMPARE(m_window->size(), QSize(w, h));
        m_item->setSize(QSizeF(64, 36));
        const int before = m_item->framesPresented();
        std::thread([&] { m_item->present(f); }).join();
        QTRY_COMPARE(m_item->framesPresented(), before + 1);
        QVERIFY(!m_window->grabWindow().isNull());

        m_item->setSize(QSizeF(w, h));
        const QImage shot = m_window->grabWindow();
        QCOMPARE(shot.size(), QSize(w, h));
        for (int x = 2; x < w - 8; x += 8) {
            QVERIFY2(near(shot.pixel(x, h / 2), Qt::black, 40), qPrintable(describe(shot.pixel(x, h / 2))));
            QVERIFY2(near(shot.pixel(x + 4, h / 2), Qt::white, 40),
                     qPrintable(describe(shot.pixel(x + 4, h / 2))));
        }
        QCOMPARE(m_item->framesPresented(), before + 1); // made again, not a new frame
    }

    // Four threads present whole-colour frames at once while the window draws: every frame is either
    // shown or counted as dropped, and every picture drawn is one whole frame.
    void severalThreads()
    {
        // The window keeps the size growWhilePaused left it at; the frames fill the item.
        m_item->setSize(QSizeF(m_window->size()));
        m_item->clear();
        QTRY_VERIFY(
            near(m_window->grabWindow().pixel(m_window->width() / 2, m_window->height() / 2), Qt::black, 2));
        const QVector<QColor> colours{QColor(220, 30, 30), QColor(30, 30, 220)};
        QVector<Nv12Frame> frames;
        for (const QColor &c : colours)
            frames << quadrants(1920, 1080, {c, c, c, c});
        const int presented = m_item->framesPresented(), dropped = m_item->framesDropped();
        constexpr int kThreads = 4, kFrames = 60;
        std::atomic<int> running{kThreads};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kFrames; ++i)
                    m_item->present(frames[(i + t) % 2]);
                --running;
            });
        // Down the middle of the picture: one colour from top to bottom.
        const QRectF r = VideoOutputItem::fittedRect(m_item->size(), QSize(1920, 1080));
        QString fault;
        int drawn = 0;
        for (int grabs = 0; fault.isEmpty() && (running > 0 || grabs < 5); ++grabs) {
            QCoreApplication::processEvents(); // the item's queued update
            const QImage shot = m_window->grabWindow();
            const QRgb top = shot.pixel(int(r.center().x()), int(r.top()) + 2);
            if (near(top, Qt::black, 2)) // nothing drawn yet
                continue;
            ++drawn;
            if (!near(top, colours[0]) && !near(top, colours[1]))
                fault = describe(top);
            for (int y = int(r.top()) + 2; fault.isEmpty() && y < r.bottom() - 2; y += 4)
                if (!near(shot.pixel(int(r.center().x()), y), QColor(top)))
                    fault = QStringLiteral("%1 at the top, %2 at %3")
                                .arg(describe(top), describe(shot.pixel(int(r.center().x()), y)))
                                .arg(y);
        }
        for (std::thread &t : threads)
            t.join();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(drawn > 0);
        QTRY_COMPARE(m_item->framesPresented() - presented + m_item->framesDropped() - dropped,
                     kThreads * kFrames);
    }

    void clearShowsNothing()
    {
        m_item->clear();
        QTRY_VERIFY(near(m_window->grabWindow().pixel(200, 300), Qt::black, 2));
    }
};

QTEST_MAIN(tst_VideoOutputItem)
#include "tst_videooutputitem.moc"
