#pragma once
#include "distribution/Store.h"
  #  include "mcp/Server.h" // upward
