#include "mcp/Server.h"
#include "mcp/ui/LinkDialog.h" // upward
