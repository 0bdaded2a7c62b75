// The file bookkeeping both media layers keep: the paths behind the FSSpec
// records they make, and the reference numbers of open files. Portable
// (standard C++ and stat), so that the Windows test runtime shares it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "audio/media_ops.h"

namespace hx::media {

// The classic code for an errno value (ioErr for those it does not know).
OSErr errnoToErr(int e);

class FileRefs {
 public:
  // Readable: noErr when the path is a regular file we may read.
  using ReadCheck = OSErr (*)(const std::string& path);

  // volume marks the records made here; separators end a path's folder part.
  FileRefs(int16_t volume, const char* separators) : volume_(volume), separators_(separators) {}

  // NativePathNameToFSSpec: the path must exist; the same path gives the
  // same record.
  OSErr makeSpec(const char* path, FSSpec* spec);
  // OpenMovieFile: the lowest free reference number, once readable passes.
  OSErr open(const FSSpec* spec, int16_t* refNum, int permission, ReadCheck readable);
  OSErr close(int16_t refNum) { return open_.erase(refNum) == 1 ? noErr : rfNumErr; }

  // Null for a record not made here.
  const std::string* pathOf(const FSSpec* spec) const;
  // Null for a number not open.
  const std::string* pathOfRef(int16_t refNum) const;
  void clear();

 private:
  int16_t volume_;
  const char* separators_;
  std::vector<std::string> paths_;  // parID - 1 of a record
  std::map<std::string, int32_t> pathIndex_;
  std::map<int16_t, int32_t> open_;  // reference number -> path index
};

}  // namespace hx::media
