#pragma once
#include "core/Build.h"
#include "mcp/Server.h"
#include "ui/reader/Page.h" // upward
