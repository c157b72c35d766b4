#include "playbacktuning.h"

PlaybackTuning &PlaybackTuning::current()
{
    static PlaybackTuning tuning;
    return tuning;
}
