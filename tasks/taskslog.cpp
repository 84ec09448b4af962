#include "tasks/taskslog.h"

Q_LOGGING_CATEGORY(tasksLog, "quillet.tasks")
