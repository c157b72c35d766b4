#pragma once
// The playback limits of the source streams, read from rewind.ini once when the archive service
// starts and read without a lock afterwards.

struct PlaybackTuning
{
    float DefQuality = 0.0f;
    float Quality4Full = 0.51f;
    float Quality4View = 0.10f;
    int Skip4Full = 0;
    int Skip4View = 1;
    int Skip4Preview = 3;
    float SD2HDQulityRatio = 2.0f;
    float IFrameOnlySpeedLimit = 1.9f;
    bool Force2IFrame4Preview = false;

    // The process-wide values; written only while the configuration loads.
    static PlaybackTuning &current();
};
