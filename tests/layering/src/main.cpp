#include "app/Shell.h"
#include "dist/Store.h"
