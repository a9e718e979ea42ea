#include "ui/snapshot/Harness.h"
#include "distribution/Store.h"
