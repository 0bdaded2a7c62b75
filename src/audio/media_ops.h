// The platform operations the file reader relies on, and nothing else.
//
// Native builds serve them from the FFmpeg media layer; Windows builds from
// the runtime binding. The module hands its build's table in once, at load;
// tests may hand a reader a table of their own.
// Error results are 16-bit platform codes; the reader widens them with
// their sign.
#pragma once

#include <cstdint>

namespace hx {

using OSErr = int16_t;
using OSType = uint32_t;
using TimeValue = int32_t;
using UnsignedFixed = uint32_t;  // 16.16
// A relocatable memory block: *handle is the block's current address.
using Handle = char**;
using Movie = struct MovieRecord*;
using Track = struct TrackRecord*;

constexpr OSType fourCharCode(const char (&c)[5]) {
  return (OSType(uint8_t(c[0])) << 24) | (OSType(uint8_t(c[1])) << 16) |
         (OSType(uint8_t(c[2])) << 8) | OSType(uint8_t(c[3]));
}
inline constexpr OSType kSoundResourceType = fourCharCode("snd ");
inline constexpr OSType kTwosEncoding = fourCharCode("twos");  // signed 16-bit big-endian
inline constexpr OSType kSowtEncoding = fourCharCode("sowt");  // signed 16-bit little-endian
inline constexpr OSType kRawEncoding = fourCharCode("raw ");   // unsigned 8-bit
inline constexpr OSType kAudioCharacteristic = fourCharCode("ears");

inline constexpr OSErr noErr = 0;
inline constexpr OSErr paramErr = -50;
inline constexpr OSErr ioErr = -36;
inline constexpr OSErr bdNamErr = -37;
inline constexpr OSErr tmfoErr = -42;  // too many files open
inline constexpr OSErr rfNumErr = -51;
inline constexpr OSErr fnfErr = -43;
inline constexpr OSErr dirNFErr = -120;  // a path that does not resolve (a symlink loop)
inline constexpr OSErr permErr = -54;
inline constexpr OSErr memFullErr = -108;
inline constexpr OSErr invalidMovie = -2010;
inline constexpr OSErr invalidTrack = -2009;
inline constexpr OSErr badFormat = -206;  // sound resource header is malformed
inline constexpr OSErr nilHandleErr = -109;
inline constexpr OSErr notAFileErr = -1302;     // a directory or other non-file
inline constexpr OSErr cantFindHandler = -2048;  // no decoder for the track's codec
inline constexpr OSErr codecErr = -8960;         // the decoder failed
inline constexpr OSErr notLoadedResult = -2095;
// Media-layer codes of our own: opening or converting the file took longer
// than its deadline, a decoded track larger than kMaxSoundBytes, and a
// track whose sample rate is above the highest the media layer takes.
inline constexpr OSErr openTimedOutErr = -2410;
inline constexpr OSErr soundTooLargeErr = -2411;
inline constexpr OSErr rateTooHighErr = -2412;

// What each code an open gives back means: audio/open_failures.h.

// Largest sound buffer a conversion makes, header included. 64-bit builds:
// 2 GiB, 3 h of 48 kHz stereo or 6.7 h of 44.1 kHz mono. 32-bit builds:
// 512 MiB, 46 min of 48 kHz stereo, so that the host, the file and the
// working buffers still fit the 2 GiB address space. A longer track fails
// with soundTooLargeErr; the decoder stops at the cap without allocating
// past it.
inline constexpr uint32_t kMaxSoundBytes = sizeof(void*) == 4 ? (512u << 20) : (2048u << 20);

// Where a file is, as the media layer records it from a native path; it is
// the only one that reads it.
#pragma pack(push, 2)
struct FSSpec {
  int16_t vRefNum;
  int32_t parID;
  unsigned char name[64];
};
#pragma pack(pop)
static_assert(sizeof(FSSpec) == 70);

// What ParseSndHeader reports about a sound resource (besides frame count
// and data offset).
struct SoundComponentData {
  int32_t flags;
  OSType format;  // encoding code
  int16_t numChannels;
  int16_t sampleSize;  // bits
  UnsignedFixed sampleRate;
  int32_t sampleCount;
  uint8_t* buffer;
  int32_t reserved;
};

struct MediaOps {
  OSErr (*NativePathNameToFSSpec)(const char* path, FSSpec* spec, int32_t flags);
  OSErr (*OpenMovieFile)(const FSSpec* spec, int16_t* refNum, int8_t permission);
  // *movie is released with DisposeMovie; a layer may release it sooner
  // (once converted), and then DisposeMovie of it does nothing.
  OSErr (*NewMovieFromFile)(Movie* movie, int16_t refNum, int16_t* resId, unsigned char* resName,
                            int16_t flags, uint8_t* dataRefWasChanged);
  OSErr (*CloseMovieFile)(int16_t refNum);
  // First track with the characteristic (enabled only, with flags 6); null if none.
  Track (*GetMovieIndTrackType)(Movie movie, int32_t index, OSType characteristic, int32_t flags);
  // Empty handle owned by the caller (DisposeHandle); null when memory is short.
  Handle (*NewHandle)(int32_t size);
  // Movie preparation call (movie, -1, 0); the reader ignores its result.
  OSErr (*PrepareMovie)(Movie movie, TimeValue time, int32_t flags);
  TimeValue (*GetTrackDuration)(Track track);
  // Grows and fills handle with an uncompressed 'snd ' resource of the track.
  OSErr (*PutMovieIntoTypedHandle)(Movie movie, Track track, OSType handleType, Handle handle,
                                   TimeValue start, TimeValue duration, int32_t flags,
                                   void* exportComponent);
  void (*DisposeHandle)(Handle handle);
  OSErr (*ParseSndHeader)(Handle sound, SoundComponentData* info, uint32_t* numFrames,
                          uint32_t* dataOffset);
  void (*HLock)(Handle handle);
  // Releases a movie made by NewMovieFromFile, its tracks with it; a null
  // or already released movie is ignored.
  void (*DisposeMovie)(Movie movie);
};

// The table readers use when made without one: the one handed in by
// setModuleMediaOps, or until then one whose every operation fails as a
// runtime that is not loaded (notLoadedResult, or null and 0).
const MediaOps& moduleMediaOps();
// Called once, at load, with a table that lives as long as the module.
void setModuleMediaOps(const MediaOps& ops);

}  // namespace hx
