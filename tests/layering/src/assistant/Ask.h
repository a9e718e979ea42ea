#pragma once
#include "dist/Store.h"
  #  include "mcp/Server.h" // upward
