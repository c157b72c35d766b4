#pragma once

#include <QColor>
#include <QObject>

// Changes single colours of the application palette from QML.
class SystemPalleteSetter : public QObject
{
    Q_OBJECT
public:
    enum ColorGroup : int
    {
        Active = 0,
        Disabled = 1,
        Inactive = 2,
        NColorGroups = 3,
        Current = 4,
        All = 5,
        Normal = Active
    };
    Q_ENUM(ColorGroup)
    enum ColorRole : int
    {
        WindowText = 0,
        Button = 1,
        Light = 2,
        Midlight = 3,
        Dark = 4,
        Mid = 5,
        Text = 6,
        BrightText = 7,
        ButtonText = 8,
        Base = 9,
        Window = 10,
        Shadow = 11,
        Highlight = 12,
        HighlightedText = 13,
        Link = 14,
        LinkVisited = 15,
        AlternateBase = 16,
        NoRole = 17,
        ToolTipBase = 18,
        ToolTipText = 19,
        NColorRoles = 20,
        Foreground = WindowText,
        Background = Window
    };
    Q_ENUM(ColorRole)

    explicit SystemPalleteSetter(QObject *parent = nullptr);

    // Sets one colour of the application palette; a group or role that names no palette entry is refused.
    Q_INVOKABLE bool setColor(ColorGroup group, ColorRole role, const QColor &color);
};
