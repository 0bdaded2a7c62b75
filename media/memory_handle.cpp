#include "media/memory_handle.h"
