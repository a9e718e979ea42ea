#pragma once
#include "Widgets.h"
#include "../shell/Shell.h" // upward
