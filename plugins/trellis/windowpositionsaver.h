#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QRect>
#include <QWindow>

// Keeps a window's position, size, screen and visibility in the settings store under a name, restores
// them when it shows the window for the first time, and stores them on close or quit. A window saved
// on a screen of another size comes back in proportion to the screen it now shows on, and always
// within it.
class WindowPositionSaver : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QWindow *window READ window WRITE setWindow NOTIFY windowChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(bool autoLoad READ autoLoad WRITE setAutoLoad NOTIFY autoLoadChanged)
public:
    explicit WindowPositionSaver(QObject *parent = nullptr);

    QWindow *window() const { return m_window; }
    void setWindow(QWindow *window);
    QString name() const { return m_name; }
    void setName(const QString &name);
    bool autoLoad() const { return m_autoLoad; }
    void setAutoLoad(bool autoLoad);

    Q_INVOKABLE void load();
    Q_INVOKABLE void save();

    void classBegin() override {}
    void componentComplete() override;

    // Shrinks the rectangle to the area's size, then moves it inside the area.
    static QRect fitRectInto(QRect rect, const QRect &area);
    // The rectangle placed in the area `to` as it was in the area `from`: position and size in
    // proportion. Unchanged when either area is empty or both have the same size.
    static QRect scaleRectTo(const QRect &rect, const QRect &from, const QRect &to);

signals:
    void windowChanged();
    void nameChanged();
    void autoLoadChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString key(const char *entry) const;

    QPointer<QWindow> m_window;
    QString m_name;
    bool m_saved = false;
    bool m_autoLoad = true;
};
