#pragma once
#include "search/Engine.h"
#include "distribution/Store.h" // upward
