#pragma once
#include "app/kit/Tab.h"
#include "reader/Page.h"
#include "mcp/Server.h"
