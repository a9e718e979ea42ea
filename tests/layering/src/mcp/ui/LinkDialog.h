#pragma once
#include "app/kit/Widgets.h"
#include "mcp/Server.h"
#include "reader/Page.h"
#include "app/Shell.h" // upward
