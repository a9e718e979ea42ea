#pragma once
#include "assistant/Ask.h"
