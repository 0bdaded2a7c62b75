#include "support/error_text.h"
