// Open files of an object, by fileID.
#pragma once

#include <cstdint>

#include "audio/qt_file.h"
#include "hx_types.h"
#include "script/instance.h"

namespace hx {

// The reader open under fileId, or null once the call has failed with
// "unknown fileID %ld" and the result 0.
zrQTfile* ReaderOrFail(Instance* instance, HxCallRecord* call, int32_t fileId);
// Closes and deletes every reader still open, oldest first.
void CloseAllFiles(Instance* instance);

}  // namespace hx
