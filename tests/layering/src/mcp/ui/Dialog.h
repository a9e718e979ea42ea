#pragma once
// Window code in an engine folder is of the engine's layer and cannot reach the kit.
#include "mcp/Server.h"
#include "ui/kit/Widgets.h" // upward
