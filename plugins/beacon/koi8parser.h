#pragma once

#include "stringparameterparser.h"

#include "beaconprotocol.h"

#include <array>

// Decodes 128-byte KOI8-R records, each text ending at its first NUL or at the record's end.
class KOI8Parser final : public StringParameterParser
{
public:
    qint64 parse(const char *data, size_t size) override;
    QVector<QString> takeStrings() override;
    void reset() override;

private:
    size_t m_count = 0;
    std::array<char, beacon::kRecordSize> m_buffer{};
    QVector<QString> m_strings;
};
