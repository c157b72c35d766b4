#include "protocolevent.h"

ProtocolEvent::ProtocolEvent(QObject *parent) : QObject(parent) {}

void ProtocolEvent::setSource(const QString &source)
{
    if (m_source == source)
        return;
    m_source = source;
    emit sourceChanged();
}

void ProtocolEvent::setTimeOnBoard(const QTime &time)
{
    if (m_timeOnBoard == time)
        return;
    m_timeOnBoard = time;
    emit timeOnBoardChanged();
}

void ProtocolEvent::setTimeMoscow(const QTime &time)
{
    if (m_timeMoscow == time)
        return;
    m_timeMoscow = time;
    emit timeMoscowChanged();
}

void ProtocolEvent::setValue(const QString &value)
{
    if (m_value == value)
        return;
    m_value = value;
    emit valueChanged();
}

void ProtocolEvent::setDescription(const QString &description)
{
    if (m_description == description)
        return;
    m_description = description;
    emit descriptionChanged();
}
