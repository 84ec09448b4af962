#include "credentials/credentialslog.h"

Q_LOGGING_CATEGORY(credentialsLog, "quillet.credentials")
