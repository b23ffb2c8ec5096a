#include "cvx_core.h"

#include "style/LookAndFeel.cpp"
