#include "audio/sample_format.h"
