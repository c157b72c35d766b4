#include "windowpositionsaver.h"

#include "trellislogging.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <cmath>

namespace {
// Stored coordinates beyond any desktop are clamped so that rectangle arithmetic cannot overflow.
constexpr int kCoordinateLimit = 1 << 24;

int readInt(QSettings &settings, const QString &key, int defaultValue)
{
    bool ok = false;
    const int value = settings.value(key).toInt(&ok);
    return ok ? value : defaultValue;
}

bool isShowingVisibility(int value)
{
    return value >= QWindow::AutomaticVisibility && value <= QWindow::FullScreen;
}
} // namespace

WindowPositionSaver::WindowPositionSaver(QObject *parent) : QObject(parent)
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &WindowPositionSaver::save);
}

void WindowPositionSaver::setWindow(QWindow *window)
{
    if (window == m_window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (window)
        window->installEventFilter(this);
    emit windowChanged();
}

void WindowPositionSaver::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged();
}

void WindowPositionSaver::setAutoLoad(bool autoLoad)
{
    if (autoLoad == m_autoLoad)
        return;
    m_autoLoad = autoLoad;
    emit autoLoadChanged();
}

void WindowPositionSaver::componentComplete()
{
    if (!m_window || m_name.isEmpty())
        return;
    m_window->setProperty("nyxHide", true);
    if (m_autoLoad)
        QTimer::singleShot(0, this, &WindowPositionSaver::load);
}

bool WindowPositionSaver::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close)
        save();
    return QObject::eventFilter(watched, event);
}

QString WindowPositionSaver::key(const char *entry) const
{
    return QStringLiteral("Windows/") + m_name + QLatin1Char('/') + QLatin1String(entry);
}

QRect WindowPositionSaver::fitRectInto(QRect rect, const QRect &area)
{
    rect.setSize(rect.size().boundedTo(area.size()));
    if (rect.left() < area.left())
        rect.moveLeft(area.left());
    if (rect.right() > area.right())
        rect.moveRight(area.right());
    if (rect.top() < area.top())
        rect.moveTop(area.top());
    if (rect.bottom() > area.bottom())
        rect.moveBottom(area.bottom());
    return rect;
}

QRect WindowPositionSaver::scaleRectTo(const QRect &rect, const QRect &from, const QRect &to)
{
    if (from.isEmpty() || to.isEmpty() || from.size() == to.size())
        return rect;
    const double sx = double(to.width()) / from.width();
    const double sy = double(to.height()) / from.height();
    const auto scaled = [](qint64 value, double factor) {
        return int(qBound(double(-kCoordinateLimit), std::round(value * factor), double(kCoordinateLimit)));
    };
    return QRect(to.left() + scaled(qint64(rect.left()) - from.left(), sx),
                 to.top() + scaled(qint64(rect.top()) - from.top(), sy), qMax(1, scaled(rect.width(), sx)),
                 qMax(1, scaled(rect.height(), sy)));
}

void WindowPositionSaver::load()
{
    if (!m_window || m_name.isEmpty())
        return;
    QSettings settings;
    int visibility = readInt(settings, key("visibility"), QWindow::Windowed);
    if (!isShowingVisibility(visibility)) {
        // Hidden or a value that is no visibility at all would leave the program without a window.
        qCWarning(lcTrellis) << "WindowPositionSaver: stored visibility" << visibility << "of" << m_name
                             << "is not usable; showing the window normally.";
        visibility = QWindow::Windowed;
    }
    const int screenIndex = readInt(settings, key("screen"), 0);
    const QList<QScreen *> screens = QGuiApplication::screens();
    QScreen *screen = screenIndex >= 0 && screenIndex < screens.size() ? screens.at(screenIndex)
                                                                       : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry().marginsRemoved(m_window->frameMargins());
        if (visibility == QWindow::Maximized || visibility == QWindow::FullScreen) {
            m_window->setScreen(screen);
            m_window->setGeometry(area);
        } else {
            auto clamped = [&](const char *entry) {
                return qBound(-kCoordinateLimit, readInt(settings, key(entry), 0), kCoordinateLimit);
            };
            const QRect stored(clamped("x"), clamped("y"), clamped("width"), clamped("height"));
            const QRect storedArea(clamped("areaX"), clamped("areaY"), clamped("areaWidth"),
                                   clamped("areaHeight"));
            if (!stored.isEmpty() && !area.isEmpty())
                m_window->setGeometry(fitRectInto(scaleRectTo(stored, storedArea, area), area));
        }
    }
    m_window->setVisibility(QWindow::Visibility(visibility));
}

void WindowPositionSaver::save()
{
    if (m_saved || !m_window)
        return;
    if (!m_window->isVisible() || m_name.isEmpty())
        return;
    QSettings settings;
    settings.setValue(key("x"), m_window->x());
    settings.setValue(key("y"), m_window->y());
    settings.setValue(key("width"), m_window->width());
    settings.setValue(key("height"), m_window->height());
    settings.setValue(key("screen"), QGuiApplication::screens().indexOf(m_window->screen()));
    settings.setValue(key("visibility"), int(m_window->visibility()));
    // The area the window was placed in: on a screen of another size it is placed in proportion.
    if (QScreen *screen = m_window->screen()) {
        const QRect area = screen->availableGeometry().marginsRemoved(m_window->frameMargins());
        settings.setValue(key("areaX"), area.x());
        settings.setValue(key("areaY"), area.y());
        settings.setValue(key("areaWidth"), area.width());
        settings.setValue(key("areaHeight"), area.height());
    }
    settings.sync();
    m_saved = true;
}
