#include "refereelogging.h"

Q_LOGGING_CATEGORY(lcRewind, "Multimedia.Rewind")
