#include "audio/qt_file.h"
