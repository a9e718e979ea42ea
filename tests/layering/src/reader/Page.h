#pragma once
#include "app/kit/Tab.h"
#include "mcp/ui/LinkDialog.h"
