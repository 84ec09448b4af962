#include "history/historylog.h"

Q_LOGGING_CATEGORY(historyLog, "quillet.history")
