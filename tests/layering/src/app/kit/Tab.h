#pragma once
#include "Widgets.h"
#include "../Shell.h" // upward
