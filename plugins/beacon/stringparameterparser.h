#pragma once

#include <QString>
#include <QVector>

#include <cstddef>

// Decodes the records of an event datagram into strings. Owners hold the concrete decoder
// through a shared pointer, which deletes it as its own type.
class StringParameterParser
{
public:
    // Takes size bytes; returns the count taken, or -1 when the input cannot be decoded at all.
    virtual qint64 parse(const char *data, size_t size) = 0;
    // The strings decoded so far, in arrival order; the list is left empty.
    virtual QVector<QString> takeStrings() = 0;
    // Drops undelivered strings and any partial record.
    virtual void reset() = 0;

protected:
    ~StringParameterParser() = default;
};
