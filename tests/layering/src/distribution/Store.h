#pragma once
#include "scholar/Chains.h"
#include "search/Engine.h"
