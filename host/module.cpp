#include "host/module.h"
