#pragma once
#include "ui/kit/Widgets.h"
#include "Shell.h"
#include "ui/search/Form.h"
