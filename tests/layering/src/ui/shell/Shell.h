#pragma once
#include "ui/kit/Tab.h"
#include "ui/reader/Page.h"
#include "mcp/Server.h"
#include "ui/snapshot/Harness.h" // upward
