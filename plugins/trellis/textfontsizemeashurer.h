#pragma once

#include <QObject>
#include <QPointer>

#include <private/qquicktext_p.h>
class QQuickWindow;

// The point size a Text item really draws with, after its font-size fitting; measured once per frame.
class TextFontSizeMeashurer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQuickText *textItem READ textItem WRITE setTextItem NOTIFY textItemChanged)
    Q_PROPERTY(double fontPointSize READ fontPointSize NOTIFY fontPointSizeChanged)
public:
    explicit TextFontSizeMeashurer(QObject *parent = nullptr);

    QQuickText *textItem() const;
    void setTextItem(QQuickText *item);
    double fontPointSize() const { return m_fontPointSize; }

public slots:
    void onWindowChanged(QQuickWindow *newWindow);
    void updateFontSize();

signals:
    void textItemChanged();
    void fontPointSizeChanged();

private:
    void setFontPointSize(double size);

    QPointer<QQuickText> m_textItem;
    QPointer<QQuickWindow> m_watchedWindow;
    double m_fontPointSize = 0;
};
