#include "media/file_refs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hx::media {
namespace {

constexpr int kCurrentPermission = 0;
constexpr int kReadPermission = 1;

}  // namespace

OSErr errnoToErr(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
      return fnfErr;
    case EACCES:
    case EPERM:
      return permErr;
    case ENAMETOOLONG:
      return bdNamErr;
    case ELOOP:
      return dirNFErr;  // the path does not resolve
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case ENOMEM:
      return memFullErr;
    default:
      return ioErr;
  }
}

OSErr FileRefs::makeSpec(const char* path, FSSpec* spec) try {
  if (path == nullptr || spec == nullptr || path[0] == '\0') return paramErr;
  struct stat st;
  if (stat(path, &st) != 0) return errnoToErr(errno);
  std::string key(path);
  auto it = pathIndex_.find(key);
  int32_t index;
  if (it != pathIndex_.end()) {
    index = it->second;
  } else {
    if (paths_.size() >= size_t(INT32_MAX)) return memFullErr;
    index = int32_t(paths_.size());
    paths_.push_back(key);
    pathIndex_.emplace(std::move(key), index);
  }
  *spec = FSSpec{};
  spec->vRefNum = volume_;
  spec->parID = index + 1;
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (std::strchr(separators_, *p) != nullptr) name = p + 1;
  const size_t length = std::min<size_t>(std::strlen(name), sizeof spec->name - 1);
  spec->name[0] = static_cast<unsigned char>(length);
  std::memcpy(spec->name + 1, name, length);
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr FileRefs::open(const FSSpec* spec, int16_t* refNum, int permission, ReadCheck readable) try {
  if (refNum == nullptr) return paramErr;
  const std::string* path = pathOf(spec);
  if (path == nullptr) return paramErr;
  if (permission != kReadPermission && permission != kCurrentPermission) return permErr;
  if (OSErr err = readable(*path)) return err;
  int16_t next = 1;
  for (const auto& [ref, index] : open_) {
    if (ref != next) break;
    if (next == INT16_MAX) return tmfoErr;
    ++next;
  }
  open_.emplace(next, spec->parID - 1);
  *refNum = next;
  return noErr;
} catch (...) {
  return memFullErr;
}

const std::string* FileRefs::pathOf(const FSSpec* spec) const {
  if (spec == nullptr || spec->vRefNum != volume_ || spec->parID < 1 ||
      size_t(spec->parID) > paths_.size())
    return nullptr;
  return &paths_[size_t(spec->parID) - 1];
}

const std::string* FileRefs::pathOfRef(int16_t refNum) const {
  auto it = open_.find(refNum);
  return it == open_.end() ? nullptr : &paths_[size_t(it->second)];
}

void FileRefs::clear() {
  paths_.clear();
  pathIndex_.clear();
  open_.clear();
}

}  // namespace hx::media
