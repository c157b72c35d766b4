#pragma once
// A failing archive call as the updaters throw it and catch it at their slot boundary.

#include "win32/winerror.h"

#include <QDebug>
#include <QString>
#include <exception>

namespace rewindservice {
class ComException : public std::exception
{
public:
    explicit ComException(HRESULT hr, QString text = QString());

    HRESULT hr() const { return m_hr; }
    QString text() const { return m_text; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    HRESULT m_hr;
    QString m_text;
    QByteArray m_what;
};

// Throws "Null pointer" for E_POINTER and "Error" for any other failing value.
void throwIfFailed(HRESULT hr);

QDebug operator<<(QDebug debug, const ComException &e);
} // namespace rewindservice
