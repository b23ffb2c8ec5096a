#include "cvx_core.h"

#include "api/VersionManager.cpp"
