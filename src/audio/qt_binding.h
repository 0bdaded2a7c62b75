// Windows: the reader's platform operations, bound at run time to the
// QuickTime runtime library (QuickTime.qts). The library is found and its
// entry points resolved on the first operation; until that succeeds every
// operation answers notLoadedResult (-2095), or a null pointer where the
// operation returns one, and the next operation searches again.
//
// How an operation reaches the runtime: it calls
//   intptr_t __cdecl theQuickTimeDispatcher(uint32_t selector, ...)
// with its selector first and its own arguments after it, unchanged and in
// declaration order, with the usual variadic promotions (8- and 16-bit
// integers travel as int). The runtime reads them back with va_arg. The
// result carries the operation's result: an error code sign-extended, a
// TimeValue, or a pointer; operations returning void ignore it.
//
// Load reference: a runtime that resolves is kept loaded (the binding's own
// reference) for as long as the process lives, so its entry points never
// dangle; a library that lacks an export is released at once and
// forgotten. The binding never initialises or terminates QuickTime.
//
// Every function here runs on the host's calling thread; nothing is locked.
#pragma once

#include <cstdint>

#include "audio/media_ops.h"

#if defined(_WIN32) && !defined(_WIN64)
#define HX_QT_CALL __cdecl
#else
#define HX_QT_CALL
#endif

namespace hx::qt {

// High 16 bits: the group (0x2 movies, 0x15 memory handles, 0x1D Windows
// support, 0x24 sound); low 16 bits: the operation within it.
enum Selector : uint32_t {
  kSelNativePathNameToFSSpec = 0x1D002E,
  kSelOpenMovieFile = 0x20192,
  kSelNewMovieFromFile = 0x200F0,
  kSelCloseMovieFile = 0x200D5,
  kSelGetMovieIndTrackType = 0x20208,
  kSelPrepareMovie = 0x2019A,
  kSelGetTrackDuration = 0x2004B,
  kSelPutMovieIntoTypedHandle = 0x201CD,
  kSelNewHandle = 0x150008,
  kSelHLock = 0x15001D,
  kSelDisposeHandle = 0x150032,
  kSelParseSndHeader = 0x240010,
  kSelDisposeMovie = 0x20023,
};

using DispatcherProc = intptr_t(HX_QT_CALL*)(uint32_t selector, ...);

// Names of the runtime library and its exports, in the order they are looked up.
inline constexpr const char* kRuntimeLibrary = "QuickTime.qts";
inline constexpr const char* kExportCallComponentFunctionWithStorage =
    "_CallComponentFunctionWithStorage";
inline constexpr const char* kExportCallComponent = "_CallComponent";
inline constexpr const char* kExportDispatcher = "theQuickTimeDispatcher";

// Registry place of the runtime's folder (HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER).
inline constexpr const char* kRegistryKey = "Software\\Apple Computer, Inc.\\QuickTime";
inline constexpr const char* kRegistryValue = "QuickTime.qts folder";

// A library handle (HMODULE) with one reference for the caller, or null.
// Looks, in order: a library of that name already loaded in the process,
// the executable's folder, the registry folder (HKLM, then HKCU), the
// system directory. Paths longer than 259 characters are skipped, never cut.
void* loadQuickTimeLibrary(const char* name);

// Loads the runtime and resolves its three exports; on success operations
// go straight to the runtime from then on. Otherwise nothing changes and
// the next operation calls it again.
void resolveQuickTime();

// True once resolveQuickTime has succeeded (tests).
bool quickTimeResolved();

// The operations, with the reader's signatures (see MediaOps).
OSErr NativePathNameToFSSpec(const char* path, FSSpec* spec, int32_t flags);
OSErr OpenMovieFile(const FSSpec* spec, int16_t* refNum, int8_t permission);
OSErr NewMovieFromFile(Movie* movie, int16_t refNum, int16_t* resId, unsigned char* resName,
                       int16_t flags, uint8_t* dataRefWasChanged);
OSErr CloseMovieFile(int16_t refNum);
Track GetMovieIndTrackType(Movie movie, int32_t index, OSType characteristic, int32_t flags);
Handle NewHandle(int32_t size);
OSErr PrepareMovie(Movie movie, TimeValue time, int32_t flags);
TimeValue GetTrackDuration(Track track);
OSErr PutMovieIntoTypedHandle(Movie movie, Track track, OSType handleType, Handle handle,
                              TimeValue start, TimeValue duration, int32_t flags,
                              void* exportComponent);
void DisposeHandle(Handle handle);
OSErr ParseSndHeader(Handle sound, SoundComponentData* info, uint32_t* numFrames,
                     uint32_t* dataOffset);
void HLock(Handle handle);
void DisposeMovie(Movie movie);

// The operations above as the reader's table, which the Windows module
// hands the reader at load; lives as long as the process.
const MediaOps& quickTimeMediaOps();

}  // namespace hx::qt
