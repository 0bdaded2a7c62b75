#include "audio/qt_binding.h"

#include <windows.h>

#include <cstring>
#include <initializer_list>

namespace hx::qt {
namespace {

intptr_t HX_QT_CALL notLoaded(uint32_t, ...) { return notLoadedResult; }

using HookProc = void (*)();

// Process-wide binding state, one per loaded module. Unguarded: the first
// operation, which resolves it, runs on the host's calling thread.
HookProc gFirstCallHook = resolveQuickTime;  // cleared once resolved
DispatcherProc gDispatcher = notLoaded;
// Resolved with the dispatcher but never called by the module.
DispatcherProc gCallComponent = notLoaded;
DispatcherProc gCallComponentFunctionWithStorage = notLoaded;
// Our reference to the resolved runtime, kept until the process ends:
// releasing it from the module's unload would mean FreeLibrary under the
// loader lock.
HMODULE gRuntime = nullptr;

// A path buffer: MAX_PATH characters including the terminator.
struct PathBuffer {
  char text[MAX_PATH] = {};
  size_t length = 0;

  // False, leaving the buffer as it was, when the result would not fit.
  bool append(const char* part) {
    size_t n = std::strlen(part);
    if (n >= sizeof(text) - length) return false;
    std::memcpy(text + length, part, n + 1);
    length += n;
    return true;
  }
};

bool endsInSeparator(const PathBuffer& path) {
  return path.length > 0 && (path.text[path.length - 1] == '\\' || path.text[path.length - 1] == '/');
}

// Full paths load with their own folder searched for the library's
// dependencies, as an installed runtime expects.
HMODULE loadByPath(const PathBuffer& path) {
  return LoadLibraryExA(path.text, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// GetModuleFileNameA truncates silently; a full buffer means it did.
bool moduleFileName(HMODULE module, PathBuffer& path) {
  DWORD n = GetModuleFileNameA(module, path.text, sizeof(path.text));
  if (n == 0 || n >= sizeof(path.text)) return false;
  path.length = n;
  return true;
}

bool alreadyLoadedPath(const char* name, PathBuffer& path) {
  HMODULE loaded = GetModuleHandleA(name);
  return loaded != nullptr && moduleFileName(loaded, path);
}

bool executableFolderPath(const char* name, PathBuffer& path) {
  if (!moduleFileName(nullptr, path)) return false;
  size_t cut = path.length;
  while (cut > 0 && path.text[cut - 1] != '\\' && path.text[cut - 1] != '/') --cut;
  if (cut == 0) return false;
  path.text[cut] = '\0';
  path.length = cut;
  return path.append(name);
}

// The folder value under root; false when the key, the value or a usable
// text is missing, or when it is too long for a path.
bool registryFolderPath(HKEY root, const char* name, PathBuffer& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = sizeof(path.text) - 1;  // room for a terminator the value may lack
  LONG status = RegQueryValueExA(key, kRegistryValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(path.text), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  path.text[size] = '\0';
  path.length = std::strlen(path.text);
  // An empty value would name the current drive's root, not a folder.
  if (path.length == 0) return false;
  if (!endsInSeparator(path) && !path.append("\\")) return false;
  return path.append(name);
}

bool systemDirectoryPath(const char* name, PathBuffer& path) {
  UINT n = GetSystemDirectoryA(path.text, sizeof(path.text));
  if (n == 0 || n >= sizeof(path.text)) return false;
  path.length = n;
  return path.append("\\") && path.append(name);
}

DispatcherProc exportOf(HMODULE module, const char* name) {
  return reinterpret_cast<DispatcherProc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The dispatcher to send the pending operation to; runs the hook first.
DispatcherProc entry() {
  if (gFirstCallHook != nullptr) gFirstCallHook();
  return gDispatcher;
}

}  // namespace

void* loadQuickTimeLibrary(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  {
    PathBuffer path;
    if (alreadyLoadedPath(name, path)) return LoadLibraryA(path.text);
  }
  {
    PathBuffer path;
    if (executableFolderPath(name, path)) {
      if (HMODULE module = loadByPath(path)) return module;
    }
  }
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    PathBuffer path;
    if (registryFolderPath(root, name, path)) {
      if (HMODULE module = loadByPath(path)) return module;
    }
  }
  PathBuffer path;
  if (!systemDirectoryPath(name, path)) return nullptr;
  return loadByPath(path);
}

void resolveQuickTime() {
  if (gRuntime == nullptr) {
    gRuntime = static_cast<HMODULE>(loadQuickTimeLibrary(kRuntimeLibrary));
    if (gRuntime == nullptr) return;
  }
  DispatcherProc withStorage = exportOf(gRuntime, kExportCallComponentFunctionWithStorage);
  DispatcherProc component = exportOf(gRuntime, kExportCallComponent);
  DispatcherProc dispatcher = exportOf(gRuntime, kExportDispatcher);
  if (withStorage == nullptr || component == nullptr || dispatcher == nullptr) {
    // Give the library back so that the next operation searches afresh.
    FreeLibrary(gRuntime);
    gRuntime = nullptr;
    return;
  }
  gCallComponentFunctionWithStorage = withStorage;
  gCallComponent = component;
  gDispatcher = dispatcher;
  gFirstCallHook = nullptr;
}

bool quickTimeResolved() { return gFirstCallHook == nullptr; }

OSErr NativePathNameToFSSpec(const char* path, FSSpec* spec, int32_t flags) {
  return OSErr(entry()(kSelNativePathNameToFSSpec, path, spec, flags));
}

OSErr OpenMovieFile(const FSSpec* spec, int16_t* refNum, int8_t permission) {
  return OSErr(entry()(kSelOpenMovieFile, spec, refNum, permission));
}

OSErr NewMovieFromFile(Movie* movie, int16_t refNum, int16_t* resId, unsigned char* resName,
                       int16_t flags, uint8_t* dataRefWasChanged) {
  return OSErr(entry()(kSelNewMovieFromFile, movie, refNum, resId, resName, flags,
                       dataRefWasChanged));
}

OSErr CloseMovieFile(int16_t refNum) { return OSErr(entry()(kSelCloseMovieFile, refNum)); }

// Pointer results: unresolved gives null, never the error code read as an address.
Track GetMovieIndTrackType(Movie movie, int32_t index, OSType characteristic, int32_t flags) {
  DispatcherProc dispatcher = entry();
  if (dispatcher == notLoaded) return nullptr;
  return reinterpret_cast<Track>(
      dispatcher(kSelGetMovieIndTrackType, movie, index, characteristic, flags));
}

Handle NewHandle(int32_t size) {
  DispatcherProc dispatcher = entry();
  if (dispatcher == notLoaded) return nullptr;
  return reinterpret_cast<Handle>(dispatcher(kSelNewHandle, size));
}

OSErr PrepareMovie(Movie movie, TimeValue time, int32_t flags) {
  return OSErr(entry()(kSelPrepareMovie, movie, time, flags));
}

TimeValue GetTrackDuration(Track track) {
  return TimeValue(entry()(kSelGetTrackDuration, track));
}

OSErr PutMovieIntoTypedHandle(Movie movie, Track track, OSType handleType, Handle handle,
                              TimeValue start, TimeValue duration, int32_t flags,
                              void* exportComponent) {
  return OSErr(entry()(kSelPutMovieIntoTypedHandle, movie, track, handleType, handle, start,
                       duration, flags, exportComponent));
}

void DisposeHandle(Handle handle) { entry()(kSelDisposeHandle, handle); }

OSErr ParseSndHeader(Handle sound, SoundComponentData* info, uint32_t* numFrames,
                     uint32_t* dataOffset) {
  return OSErr(entry()(kSelParseSndHeader, sound, info, numFrames, dataOffset));
}

void HLock(Handle handle) { entry()(kSelHLock, handle); }

void DisposeMovie(Movie movie) { entry()(kSelDisposeMovie, movie); }

}  // namespace hx::qt

namespace hx::qt {

const MediaOps& quickTimeMediaOps() {
  static const MediaOps ops{
      .NativePathNameToFSSpec = qt::NativePathNameToFSSpec,
      .OpenMovieFile = qt::OpenMovieFile,
      .NewMovieFromFile = qt::NewMovieFromFile,
      .CloseMovieFile = qt::CloseMovieFile,
      .GetMovieIndTrackType = qt::GetMovieIndTrackType,
      .NewHandle = qt::NewHandle,
      .PrepareMovie = qt::PrepareMovie,
      .GetTrackDuration = qt::GetTrackDuration,
      .PutMovieIntoTypedHandle = qt::PutMovieIntoTypedHandle,
      .DisposeHandle = qt::DisposeHandle,
      .ParseSndHeader = qt::ParseSndHeader,
      .HLock = qt::HLock,
      .DisposeMovie = qt::DisposeMovie,
  };
  return ops;
}

}  // namespace hx::qt
