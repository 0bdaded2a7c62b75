#include "cli/open_file.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "audio/media_ops.h"
#include "cli/call_line.h"
#include "cli/output.h"
#include "support/error_text.h"

namespace hx::cli {
namespace {

struct CodeFacts {
  int32_t code;
  const char* meaning;
  const char* advice;  // after "harmidex: PATH"; null when there is nothing to add
};

// Every code the media layers (FFmpeg, the QuickTime binding, our test
// runtime) and the reader hand back from an open.
const CodeFacts kCodes[] = {
    {fnfErr, "file not found", " does not exist; check the path and its folders."},
    {permErr, "permission denied", " cannot be read with your permissions; check its mode and owner."},
    {notAFileErr, "not a regular file", nullptr},  // the sentence depends on what it is
    {invalidMovie, "not a media file",
     " is not an audio or movie file that the media layer can read (a text, picture or damaged "
     "file?)."},
    {invalidTrack, "no audio track",
     " has no audio track: a video-only movie, or a container without sound."},
    {cantFindHandler, "no decoder for the audio codec",
     ": no decoder for its audio codec in this build; convert it with ffmpeg or sox first."},
    {codecErr, "the audio could not be decoded", ": its audio track is damaged or truncated."},
    {memFullErr, "out of memory", ": the decoded sound does not fit in this machine's memory."},
    {soundTooLargeErr, "the decoded sound is too long",
     ": its decoded track is larger than the sound buffer may be; cut it into parts with ffmpeg or sox."},
    {openTimedOutErr, "opening took too long",
     ": reading it took longer than an open may; the file may be damaged or built to stall a reader."},
    {rateTooHighErr, "sample rate too high",
     ": its sample rate is above any that recordings use; its header is likely damaged."},
    {dirNFErr, "the path does not resolve", ": a folder or link on the path loops or is missing."},
    {paramErr, "invalid parameter", nullptr},
    {ioErr, "input/output error", ": reading it failed; check the disk or the network share."},
    {bdNamErr, "bad file name", ": the path is too long for the system."},
    {tmfoErr, "too many files open", nullptr},
    {rfNumErr, "bad file reference", nullptr},
    {nilHandleErr, "no sound buffer", nullptr},
    {badFormat, "malformed sound resource", nullptr},
    {notLoadedResult, "the QuickTime runtime is not loaded",
     ": this build reads media through QuickTime for Windows, which was not found; install it."},
    {errNotEnoughMemory, "not enough memory for the sound buffer", nullptr},
    {errNotInitialized, "no sound buffer", nullptr},
    {errUnknownSoundFormat, "the decoded sound has a layout the reader cannot use", nullptr},
};

const CodeFacts* factsOf(int32_t code) {
  for (const CodeFacts& f : kCodes)
    if (f.code == code) return &f;
  return nullptr;
}

std::string adviceFor(int32_t code, const std::string& path) {
  if (path.empty()) return "harmidex: the file path is empty.";
  if (code == notAFileErr) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
      return "harmidex: " + path + " is a directory; give the path of an audio file in it.";
    return "harmidex: " + path + " is not a regular file (a device, pipe or socket?).";
  }
  const CodeFacts* f = factsOf(code);
  if (f == nullptr || f->advice == nullptr) return {};
  return "harmidex: " + path + f->advice;
}

}  // namespace

std::string openCodeMeaning(int32_t code) {
  const CodeFacts* f = factsOf(code);
  return f != nullptr ? f->meaning : "not a code of the media layers";
}

std::string explainOpenFailure(const std::string& moduleText, int32_t code,
                               const std::string& path) {
  std::string text = moduleText + " (code " + std::to_string(code) + ": " + openCodeMeaning(code) + ")";
  const std::string advice = adviceFor(code, path);
  if (!advice.empty()) text += "\n" + advice;
  return text;
}

bool openFirstFile(Session& session, const std::string& path, std::FILE* err) {
  std::vector<Literal> args;
  args.emplace_back(path);
  OwnedValue id = session.call(methodId("openQuicktimeFile"), args);
  const auto n = session.host().integerOf(id.get());
  if (n && *n == kFirstFileId) return true;
  // 0 is an argument error, whose text says it all; any other number is
  // the open's error code.
  if (!n || *n == 0)
    writeLine(err, session.lastError());
  else
    writeLine(err, explainOpenFailure(session.lastError(), *n, path));
  return false;
}

}  // namespace hx::cli
