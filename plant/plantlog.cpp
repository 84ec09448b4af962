#include "plant/plantlog.h"

Q_LOGGING_CATEGORY(plantLog, "quillet.plant")
