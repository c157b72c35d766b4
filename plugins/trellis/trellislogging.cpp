#include "trellislogging.h"

Q_LOGGING_CATEGORY(lcTrellis, "Trellis")
