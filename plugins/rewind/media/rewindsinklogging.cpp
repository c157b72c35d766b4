#include "rewindsinklogging.h"

Q_LOGGING_CATEGORY(lcRewindSink, "Multimedia.Rewind.sink")
