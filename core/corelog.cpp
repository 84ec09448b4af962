#include "core/corelog.h"

Q_LOGGING_CATEGORY(coreLog, "quillet.core")
