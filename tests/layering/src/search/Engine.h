#pragma once
#include "core/Build.h"
#include "core/Base.h"
