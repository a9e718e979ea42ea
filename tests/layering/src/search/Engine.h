#pragma once
#include "Build.h"
#include "core/Base.h"
