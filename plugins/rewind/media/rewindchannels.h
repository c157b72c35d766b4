#pragma once
// What a recording leaves in an archive stream: the named channels, the sample attributes added to
// every sample and the keys kept in the stream's attribute block.

#include "com/guid.h"

#include <QString>

namespace rewindchannels {
inline const QString kKeyFrameChannel = QStringLiteral("KeyFrame");
inline const QString kVideoDataChannel = QStringLiteral("Video_H264");
inline const QString kVideoMediaTypeChannel = QStringLiteral("Video_MediaType");
inline const QString kAudioDataChannel = QStringLiteral("Audio_RAW");
inline const QString kAudioMediaTypeChannel = QStringLiteral("Audio_MediaType");

// Channel flags as the archive stores them: 1 for the sparse channels (marks, media types).
constexpr bool kKeyFrameFlag = true;
constexpr bool kDataFlag = false;
constexpr bool kMediaTypeFlag = true;

// Attribute-block keys, each holding a GUID.
inline const QString kMajorTypeKey = QStringLiteral("MediaType_MajorType");
inline const QString kSubtypeKey = QStringLiteral("MediaType_Subtype");
} // namespace rewindchannels

// Archive time of the sample (FILETIME), UINT64.
// {3B6BACFF-4A87-4F15-AB2B-921AF52FC227}
constexpr GUID SampleArchiveTime = {
    0x3B6BACFF, 0x4A87, 0x4F15, {0xAB, 0x2B, 0x92, 0x1A, 0xF5, 0x2F, 0xC2, 0x27}};
// Duration of the sample in 100 ns units, UINT64.
// {7B7DCDF2-2328-4FE0-AD86-2EDB763A040B}
constexpr GUID SampleArchiveDuration = {
    0x7B7DCDF2, 0x2328, 0x4FE0, {0xAD, 0x86, 0x2E, 0xDB, 0x76, 0x3A, 0x04, 0x0B}};
