#pragma once
// A failing COM call as the media library and its users throw it: an HRESULT with a text.

#include "win32/winerror.h"

#include <QByteArray>
#include <QDebug>
#include <QMetaType>
#include <QString>
#include <exception>

class ComException : public std::exception
{
public:
    // S_OK: no error (the value an Activator hands on with a successful result).
    ComException() : ComException(S_OK) {}
    // An empty text becomes "Null pointer" for E_POINTER and "Error" for any other value.
    explicit ComException(HRESULT hr, QString text = QString());

    HRESULT getErrorCode() const { return m_hr; }
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

Q_DECLARE_METATYPE(ComException)
