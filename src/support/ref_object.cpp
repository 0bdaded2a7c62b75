#include "support/ref_object.h"
