#pragma once
// Test helpers: H.264 clips made with libx264 and written into containers with libavformat.

#include "multimedia/engines/h264encoder.h"

namespace nyx::multimedia::test {

// frames pictures of the running line at 640x360, 25 fps, each with its time in its strip.
QVector<H264Packet> encodeClip(int frames);
// Writes the packets into a container file ("mp4", "flv", "mpegts"); the SPS/PPS of the first key
// frame become the stream's parameter sets.
bool writeClip(const QString &path, const char *format, const QVector<H264Packet> &packets);

} // namespace nyx::multimedia::test
