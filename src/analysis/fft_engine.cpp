#include "analysis/fft_engine.h"
