// What loading a module and making its script objects needs of a host: the
// interfaces an object header carries, the `me` value of a call, the size
// of an allocator block, and a place to report misuse. Our strict Host
// implements it, and so may a second host built for speed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hx_interfaces.h"

namespace hx::host {

class ScriptHost {
 public:
  virtual ~ScriptHost() = default;
  // Interfaces live as long as the host; no reference for the caller.
  virtual HxCallback* callback() = 0;
  virtual HxAllocator* allocator() = 0;
  // The `me` of a script call, with one reference owned by the caller.
  virtual HxValue makeObject() = 0;
  // Gives back the caller's reference and sets v to void.
  virtual void release(HxValue& v) = 0;
  // Size of a live block of allocator(); nullopt for anything else.
  virtual std::optional<uint32_t> blockSize(const void* block) const = 0;
  // Counts a misuse found outside the interfaces (the loader uses it).
  virtual void noteProtocolError(std::string what) = 0;
};

}  // namespace hx::host
