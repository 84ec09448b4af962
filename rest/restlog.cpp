#include "rest/restlog.h"

Q_LOGGING_CATEGORY(restLog, "quillet.rest")
