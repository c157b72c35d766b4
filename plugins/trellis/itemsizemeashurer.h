#pragma once

#include <QQuickItem>
#include <QSizeF>

// The item's size as drawn in its window, after the scales and rotations of all its ancestors.
class ItemSizeMeashurer : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(QSizeF windowSpaceSize READ windowSpaceSize NOTIFY windowSpaceSizeChanged)
public:
    explicit ItemSizeMeashurer(QQuickItem *parent = nullptr);

    QSizeF windowSpaceSize() const { return m_windowSpaceSize; }

public slots:
    void onItemSizeChanged();
    void onWindowChanged(QQuickWindow *window);
    void beforeWindowSynchronizing();

signals:
    void windowSpaceSizeChanged();

protected:
    void componentComplete() override;

private:
    void recompute();

    QSizeF m_windowSpaceSize{-1, -1};
};
