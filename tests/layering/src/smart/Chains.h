#pragma once
#include "search/Engine.h"
#include "dist/Store.h" // upward
