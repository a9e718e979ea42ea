#pragma once
#include "smart/Chains.h"
#include "search/Engine.h"
