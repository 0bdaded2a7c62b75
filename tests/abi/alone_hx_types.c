/* Each ABI header compiles on its own, as C. */
#include "hx_types.h"
