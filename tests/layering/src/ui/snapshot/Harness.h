#pragma once
#include "ui/shell/Shell.h"
#include "ui/shell/LinkDialog.h"
