// new, openQuicktimeFile, closeFile and getSampleRate.
#include "script/file_methods.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "script/last_error.h"
#include "script/results.h"
#include "script/script_interface.h"
#include "support/error_text.h"
#include "support/log.h"
#include "support/module_alloc.h"

namespace hx {
namespace {

// Both path buffers hold 1024 bytes, but the two readers are given
// different lengths: 1023 for "logFile" (the log keeps at most 1022
// characters) and the whole 1024 for "qtfilepath".
constexpr int32_t kPathCapacity = 1024;
// Longest texts read: a log path of 1022 bytes, a file path of 1023.
constexpr size_t kLogPathLimit = kPathCapacity - 2;
constexpr size_t kOpenPathLimit = kPathCapacity - 1;

struct FileKey {
  char text[16];
  explicit FileKey(int32_t fileId) { std::snprintf(text, sizeof text, "%ld", static_cast<long>(fileId)); }
};

// The table's position of fileId, or -1. Walking the keys needs no
// allocation, so a lookup that precedes a removal cannot fail half way.
int32_t positionOf(const RefMap& table, const FileKey& key) {
  for (int32_t i = 0; i < table.Count(); ++i) {
    const RefObject* stored = table.KeyAt(i);
    if (stored != nullptr && stored->kindTag() == RefObject::kString) {
      const char* text = static_cast<const RefString*>(stored)->text();
      if (text != nullptr && std::strcmp(text, key.text) == 0) return i;
    }
  }
  return -1;
}

zrQTfile* readerAt(const RefMap& table, int32_t position) {
  RefObject* value = table.ValueAt(position);
  if (value == nullptr || value->kindTag() != RefObject::kPointer) return nullptr;
  return static_cast<zrQTfile*>(static_cast<RefPointer*>(value)->data());
}

void destroyReader(zrQTfile* reader) {
  reader->close();
  delete reader;
}

// Files the open reader under the next fileID; false when memory is short.
bool fileReader(Instance* instance, zrQTfile* reader, int32_t fileId) {
  RefPointer* pointer = NewOrNull<RefPointer>(reader);
  if (pointer == nullptr) return false;
  const bool filed = instance->openFiles->PutText(FileKey(fileId).text, pointer);
  pointer->Release();  // the table holds the only reference now
  return filed;
}

}  // namespace

zrQTfile* ReaderOrFail(Instance* instance, HxCallRecord* call, int32_t fileId) {
  const int32_t position =
      instance->openFiles ? positionOf(*instance->openFiles, FileKey(fileId)) : -1;
  zrQTfile* reader = position < 0 ? nullptr : readerAt(*instance->openFiles, position);
  if (reader == nullptr) FailWith(instance, call, "unknown fileID %ld", static_cast<long>(fileId));
  return reader;
}

void CloseAllFiles(Instance* instance) {
  RefMap* table = instance->openFiles;
  if (table == nullptr) return;
  while (table->Count() > 0) {
    if (zrQTfile* reader = readerAt(*table, 0)) destroyReader(reader);
    table->RemoveAt(0);
  }
}

HxStatus HX_CALL NewMethod(ScriptIface* self, HxCallRecord* call) {
  // One byte more than a log path may hold, so that a longer text shows as
  // longer instead of being cut to the name of another file.
  char path[kPathCapacity + 1];
  if (self->vtbl->GetStringArg(self, call, 2, "logFile", path, kPathCapacity + 1, 0) == kArgRead) {
    if (std::strlen(path) > kLogPathLimit) {
      OpenLog(nullptr);  // as for a log that cannot be opened: logging off
      return HX_OK;
    }
    OpenLog(path);
    LogLine("Harmidex Log Started");
  }
  return HX_OK;
}

HxStatus HX_CALL OpenQuicktimeFileMethod(ScriptIface* self, HxCallRecord* call) {
  Instance* instance = self->owner;
  // One byte more than a path may hold: a longer text must not open the
  // file its first 1023 bytes happen to name.
  char path[kPathCapacity + 1];
  if (self->vtbl->GetStringArg(self, call, 2, "qtfilepath", path, kPathCapacity + 1, 1) != kArgRead) {
    return HX_OK;
  }
  if (std::strlen(path) > kOpenPathLimit) {
    SetErrorText(instance, "cannot open %.64s... : the path is longer than %ld bytes", path,
                 static_cast<long>(kOpenPathLimit));
    SetIntegerResult(instance, call, bdNamErr);
    return HX_OK;
  }
  if (instance->openFiles == nullptr) {
    FailWith(instance, call, "cannot open %s : error %s", path, ErrorText(errNotEnoughMemory));
    return HX_OK;
  }
  if (instance->nextFileId == INT32_MAX) {
    FailWith(instance, call, "cannot open %s : no fileID left for this object", path);
    return HX_OK;
  }
  std::unique_ptr<zrQTfile> reader(NewOrNull<zrQTfile>());
  int32_t error = reader ? reader->open(path) : errNotEnoughMemory;
  const int32_t fileId = instance->nextFileId;
  if (error == 0 && !fileReader(instance, reader.get(), fileId)) error = errNotEnoughMemory;
  if (error != 0) {
    SetErrorText(instance, "cannot open %s : error %s", path, ErrorText(error));
    SetIntegerResult(instance, call, error);
    return HX_OK;  // the reader is closed and deleted by unique_ptr
  }
  if (!SetIntegerResult(instance, call, fileId)) {
    // The script would never learn the fileID: take the file back out.
    instance->openFiles->RemoveAt(positionOf(*instance->openFiles, FileKey(fileId)));
    return HX_OK;  // the reader is closed and deleted by unique_ptr
  }
  reader.release();  // owned through the table from now on
  instance->nextFileId = fileId + 1;
  return HX_OK;
}

HxStatus HX_CALL CloseFileMethod(ScriptIface* self, HxCallRecord* call) {
  Instance* instance = self->owner;
  int32_t fileId = 0;
  if (self->vtbl->GetIntArg(self, call, 2, "fileID", &fileId, 1) != kArgRead) return HX_OK;
  zrQTfile* reader = ReaderOrFail(instance, call, fileId);
  if (reader == nullptr) return HX_OK;
  destroyReader(reader);
  instance->openFiles->RemoveAt(positionOf(*instance->openFiles, FileKey(fileId)));
  SetIntegerResult(instance, call, 1);
  return HX_OK;
}

HxStatus HX_CALL GetSampleRateMethod(ScriptIface* self, HxCallRecord* call) {
  Instance* instance = self->owner;
  int32_t fileId = 0;
  if (self->vtbl->GetIntArg(self, call, 2, "fileID", &fileId, 1) != kArgRead) return HX_OK;
  zrQTfile* reader = ReaderOrFail(instance, call, fileId);
  if (reader == nullptr) return HX_OK;
  SetFloatResult(instance, call, reader->getSampleRate());
  return HX_OK;
}

}  // namespace hx
