#include "core/tracelog.h"

Q_LOGGING_CATEGORY(traceLog, "quillet.trace")
