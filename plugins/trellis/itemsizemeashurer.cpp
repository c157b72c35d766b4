#include "itemsizemeashurer.h"

#include <QQuickWindow>

#include <cmath>

ItemSizeMeashurer::ItemSizeMeashurer(QQuickItem *parent) : QQuickItem(parent)
{
    connect(this, &QQuickItem::widthChanged, this, &ItemSizeMeashurer::onItemSizeChanged);
    connect(this, &QQuickItem::heightChanged, this, &ItemSizeMeashurer::onItemSizeChanged);
    connect(this, &QQuickItem::windowChanged, this, &ItemSizeMeashurer::onWindowChanged);
}

void ItemSizeMeashurer::componentComplete()
{
    QQuickItem::componentComplete();
    recompute();
}

void ItemSizeMeashurer::onItemSizeChanged()
{
    recompute();
}

void ItemSizeMeashurer::onWindowChanged(QQuickWindow *window)
{
    if (window)
        connect(window, &QQuickWindow::beforeSynchronizing, this,
                &ItemSizeMeashurer::beforeWindowSynchronizing, Qt::UniqueConnection);
}

void ItemSizeMeashurer::beforeWindowSynchronizing()
{
    recompute();
}

void ItemSizeMeashurer::recompute()
{
    const QPointF p0 = mapToScene(QPointF(0, 0));
    const QPointF pw = mapToScene(QPointF(width(), 0));
    const QPointF ph = mapToScene(QPointF(0, height()));
    auto distance = [](const QPointF &a, const QPointF &b) {
        const float dx = float(b.x() - a.x());
        const float dy = float(b.y() - a.y());
        return double(std::sqrt(dx * dx + dy * dy));
    };
    const double w = distance(p0, pw);
    const double h = distance(p0, ph);
    if (qFuzzyCompare(w, m_windowSpaceSize.width()) && qFuzzyCompare(h, m_windowSpaceSize.height()))
        return;
    m_windowSpaceSize = QSizeF(w, h);
    emit windowSpaceSizeChanged();
}
