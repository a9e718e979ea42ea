#include "mcp/Server.h"
#include "ui/shell/LinkDialog.h" // upward
