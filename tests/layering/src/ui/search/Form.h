#pragma once
#include "ui/kit/Widgets.h"
#include "ui/reader/Page.h"
#include "ui/shell/Shell.h" // upward
