#include "settings/settingslog.h"

Q_LOGGING_CATEGORY(settingsLog, "quillet.settings")
