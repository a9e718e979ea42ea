#pragma once
#include "Build.h"
#include "mcp/Server.h"
#include "reader/Page.h" // upward
