#include "cvx_core.h"

#include "dsp/SIMD_Interface.cpp"
#include "dsp/Compressor.cpp"
#include "dsp/Limiter.cpp"
#include "dsp/Oversampler.cpp"
#include "dsp/FFT.cpp"

