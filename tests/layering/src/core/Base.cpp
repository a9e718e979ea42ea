#include "core/Base.h"
#include "search/Engine.h" // upward
#include "moc_Base.cpp"
