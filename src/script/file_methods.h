// Open files of an object, by fileID.
#pragma once

#include <cstdint>

#include "audio/qt_file.h"
#include "shell/instance.h"

namespace hx {

// The reader open under fileId, or null.
zrQTfile* FindReader(Instance* instance, int32_t fileId);
// Closes and deletes every reader still open, oldest first.
void CloseAllFiles(Instance* instance);

}  // namespace hx
