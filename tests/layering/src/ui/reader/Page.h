#pragma once
#include "ui/kit/Tab.h"
#include "ui/search/Form.h"
