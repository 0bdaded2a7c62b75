// Every code an open can end with besides 0, from any media layer or the
// reader: its name, what it means and what a person can do about it. The
// command explains failed opens from it and the tests walk it.
#pragma once

#include <cstdint>

#include "audio/media_ops.h"
#include "support/error_text.h"

namespace hx {

// Where the fault lies.
enum class OpenFailureCause {
  path,      // the path or the file system refuses
  content,   // what is in the file: a file can bring it about on purpose
  memory,    // memory short, or claimed short by the file's sizes
  platform,  // the media runtime is missing
  internal,  // a media layer handed the reader something it should not
};

struct OpenFailure {
  int32_t code;
  const char* name;
  const char* meaning;  // a few words, after the code
  const char* advice;   // follows "harmidex: PATH"; null when there is nothing to add
  OpenFailureCause cause;
};

inline constexpr OpenFailure kOpenFailures[] = {
    {fnfErr, "fnfErr", "file not found", " does not exist; check the path and its folders.",
     OpenFailureCause::path},
    {permErr, "permErr", "permission denied",
     " cannot be read with your permissions; check its mode and owner.", OpenFailureCause::path},
    // The sentence depends on what it is; the command says it.
    {notAFileErr, "notAFileErr", "not a regular file", nullptr, OpenFailureCause::path},
    {dirNFErr, "dirNFErr", "the path does not resolve",
     ": a folder or link on the path loops or is missing.", OpenFailureCause::path},
    {paramErr, "paramErr", "invalid parameter", nullptr, OpenFailureCause::path},
    {ioErr, "ioErr", "input/output error", ": reading it failed; check the disk or the network share.",
     OpenFailureCause::path},
    {bdNamErr, "bdNamErr", "bad file name", ": the path is too long for the system.",
     OpenFailureCause::path},
    {tmfoErr, "tmfoErr", "too many files open", nullptr, OpenFailureCause::path},
    {rfNumErr, "rfNumErr", "bad file reference", nullptr, OpenFailureCause::path},
    {invalidMovie, "invalidMovie", "not a media file",
     " is not an audio or movie file that the media layer can read (a text, picture or damaged "
     "file?).",
     OpenFailureCause::content},
    {invalidTrack, "invalidTrack", "no audio track",
     " has no audio track: a video-only movie, or a container without sound.",
     OpenFailureCause::content},
    {cantFindHandler, "cantFindHandler", "no decoder for the audio codec",
     ": no decoder for its audio codec in this build; convert it with ffmpeg or sox first.",
     OpenFailureCause::content},
    {codecErr, "codecErr", "the audio could not be decoded", ": its audio track is damaged or truncated.",
     OpenFailureCause::content},
    {soundTooLargeErr, "soundTooLargeErr", "the decoded sound is too long",
     ": its decoded track is larger than the sound buffer may be; cut it into parts with ffmpeg or "
     "sox.",
     OpenFailureCause::content},
    {openTimedOutErr, "openTimedOutErr", "opening took too long",
     ": reading it took longer than an open may; the file may be damaged or built to stall a "
     "reader.",
     OpenFailureCause::content},
    {rateTooHighErr, "rateTooHighErr", "sample rate too high",
     ": its sample rate is above any that recordings use; its header is likely damaged.",
     OpenFailureCause::content},
    {memFullErr, "memFullErr", "out of memory",
     ": the decoded sound does not fit in this machine's memory.", OpenFailureCause::memory},
    {errNotEnoughMemory, "errNotEnoughMemory", "not enough memory for the sound buffer", nullptr,
     OpenFailureCause::memory},
    {notLoadedResult, "notLoadedResult", "the QuickTime runtime is not loaded",
     ": this build reads media through QuickTime for Windows, which was not found; install it.",
     OpenFailureCause::platform},
    {nilHandleErr, "nilHandleErr", "no sound buffer", nullptr, OpenFailureCause::internal},
    {badFormat, "badFormat", "malformed sound resource", nullptr, OpenFailureCause::internal},
    {errNotInitialized, "errNotInitialized", "no sound buffer", nullptr, OpenFailureCause::internal},
    {errUnknownSoundFormat, "errUnknownSoundFormat",
     "the decoded sound has a layout the reader cannot use", nullptr, OpenFailureCause::internal},
};

// The entry of code, or null for a code no open gives.
constexpr const OpenFailure* findOpenFailure(int32_t code) {
  for (const OpenFailure& f : kOpenFailures)
    if (f.code == code) return &f;
  return nullptr;
}

namespace open_failures_detail {
constexpr bool codesAreDistinct() {
  for (const OpenFailure& a : kOpenFailures) {
    if (a.code == 0) return false;
    for (const OpenFailure& b : kOpenFailures)
      if (&a != &b && a.code == b.code) return false;
  }
  return true;
}
}  // namespace open_failures_detail
static_assert(open_failures_detail::codesAreDistinct(), "each code once, and never 0");

}  // namespace hx
