#include "cvx_core.h"

#include "cache/CacheFile.cpp"
#include "cache/ValueFile.cpp"
