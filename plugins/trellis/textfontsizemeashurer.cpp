#include "textfontsizemeashurer.h"

#include <QQuickWindow>

#include <private/qquicktext_p_p.h>

TextFontSizeMeashurer::TextFontSizeMeashurer(QObject *parent) : QObject(parent) {}

QQuickText *TextFontSizeMeashurer::textItem() const
{
    return m_textItem;
}

void TextFontSizeMeashurer::setTextItem(QQuickText *item)
{
    if (item == m_textItem)
        return;
    if (m_textItem)
        disconnect(m_textItem, &QQuickItem::windowChanged, this, &TextFontSizeMeashurer::onWindowChanged);
    m_textItem = item;
    if (item)
        connect(item, &QQuickItem::windowChanged, this, &TextFontSizeMeashurer::onWindowChanged);
    onWindowChanged(item ? item->window() : nullptr);
    setFontPointSize(0);
    emit textItemChanged();
}

void TextFontSizeMeashurer::onWindowChanged(QQuickWindow *newWindow)
{
    if (newWindow == m_watchedWindow)
        return;
    if (m_watchedWindow)
        disconnect(m_watchedWindow, &QQuickWindow::afterAnimating, this,
                   &TextFontSizeMeashurer::updateFontSize);
    m_watchedWindow = newWindow;
    if (newWindow)
        connect(newWindow, &QQuickWindow::afterAnimating, this, &TextFontSizeMeashurer::updateFontSize);
    setFontPointSize(0);
}

void TextFontSizeMeashurer::updateFontSize()
{
    double size = 0;
    if (m_textItem && m_textItem->window()) {
        size = QQuickTextPrivate::get(m_textItem)->layout.font().pointSizeF();
        if (!(size > 0))
            size = 0;
    }
    setFontPointSize(size);
}

void TextFontSizeMeashurer::setFontPointSize(double size)
{
    if (size == m_fontPointSize)
        return;
    m_fontPointSize = size;
    emit fontPointSizeChanged();
}
