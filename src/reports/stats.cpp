#include "reports/stats.h"
