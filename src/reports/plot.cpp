#include "reports/plot.h"
