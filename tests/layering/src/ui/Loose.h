// no layer: window code outside the view folders
#pragma once
#include "ui/kit/Widgets.h"
