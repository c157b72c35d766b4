#include "rewindservicelogging.h"

Q_LOGGING_CATEGORY(lcRewindService, "Multimedia.Rewind.RewindService")
