#pragma once

#include <QObject>
#include <QString>
#include <QTime>

// One event received from a remote event source.
class ProtocolEvent : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(QTime timeOnBoard READ timeOnBoard WRITE setTimeOnBoard NOTIFY timeOnBoardChanged)
    Q_PROPERTY(QTime timeMoscow READ timeMoscow WRITE setTimeMoscow NOTIFY timeMoscowChanged)
    Q_PROPERTY(QString value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(QString description READ description WRITE setDescription NOTIFY descriptionChanged)

public:
    explicit ProtocolEvent(QObject *parent = nullptr);

    QString source() const { return m_source; }
    QTime timeOnBoard() const { return m_timeOnBoard; }
    QTime timeMoscow() const { return m_timeMoscow; }
    QString value() const { return m_value; }
    QString description() const { return m_description; }

    void setSource(const QString &source);
    void setTimeOnBoard(const QTime &time);
    void setTimeMoscow(const QTime &time);
    void setValue(const QString &value);
    void setDescription(const QString &description);

signals:
    void sourceChanged();
    void timeOnBoardChanged();
    void timeMoscowChanged();
    void valueChanged();
    void descriptionChanged();

private:
    QString m_source;
    QTime m_timeOnBoard;
    QTime m_timeMoscow;
    QString m_value;
    QString m_description;
};
