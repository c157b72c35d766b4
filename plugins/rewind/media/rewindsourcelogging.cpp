#include "rewindsourcelogging.h"

Q_LOGGING_CATEGORY(lcRewindSourceNode, "Multimedia.Rewind.source")
Q_LOGGING_CATEGORY(lcRewindSourceMF, "Multimedia.Rewind.RewindSource")
