#include "offscreenitem.h"

#include "glreadback.h"
#include "itemupdatermanager.h"

#include <QSGTextureProvider>
#include <private/qquickitem_p.h>

OffscreenItem::OffscreenItem(QQuickItem *parent) : QQuickShaderEffectSource(nullptr)
{
    m_innerItem.reset(new QQuickItem);
    setSourceItem(m_innerItem.data());
    onWidthChanged();
    onHeightChanged();
    connect(this, &QQuickItem::widthChanged, this, &OffscreenItem::onWidthChanged);
    connect(this, &QQuickItem::heightChanged, this, &OffscreenItem::onHeightChanged);
    ItemUpdaterManager::instance()->addItem(this);
    if (parent)
        setParentItem(parent);
}

OffscreenItem::~OffscreenItem()
{
    // Let go of the source item before it is deleted, while the effect source is still whole.
    setSourceItem(nullptr);
    m_innerItem.reset();
}

QQmlListProperty<QObject> OffscreenItem::data()
{
    return QQuickItemPrivate::get(m_innerItem.data())->data();
}

void OffscreenItem::onWidthChanged()
{
    m_innerItem->setWidth(width());
}

void OffscreenItem::onHeightChanged()
{
    m_innerItem->setHeight(height());
}

void OffscreenItem::forceUpdate()
{
    ItemUpdaterManager::instance()->updateScene();
    readInSceneGraph(this, [this] {
        if (QSGTextureProvider *provider = textureProvider())
            updateDynamicTexture(provider->texture());
    });
}

QImage OffscreenItem::grabToImage()
{
    ItemUpdaterManager::instance()->updateScene();
    QImage image;
    QVector<unsigned int> errors;
    bool read = false;
    readInSceneGraph(this, [&] {
        QSGTextureProvider *provider = textureProvider();
        QSGTexture *texture = provider ? provider->texture() : nullptr;
        updateDynamicTexture(texture);
        if (!texture || texture->textureId() == 0)
            return;
        image = readTextureImage(texture);
        errors = takeGlErrors();
        read = true;
    });
    if (!image.isNull())
        image = image.mirrored(false, true).convertToFormat(QImage::Format_RGBA8888);
    if (read)
        reportGlErrors(errors, "grabToImage");
    return image;
}
