#include "support/module_alloc.h"

namespace hx {
namespace {

// Test-only state of the hook; 0 at load, so nothing fails in use.
int64_t gFailAt = 0;
int64_t gSeen = 0;
AllocFailure gHow = AllocFailure::kNull;

}  // namespace

bool ModuleMayAllocate() {
  ++gSeen;
  if (gFailAt == 0 || gSeen != gFailAt) return true;
  if (gHow == AllocFailure::kThrow) throw std::bad_alloc();
  return false;
}

void FailModuleAllocationAt(int64_t k, AllocFailure how) {
  gFailAt = k < 0 ? 0 : k;
  gSeen = 0;
  gHow = how;
}

int64_t ModuleAllocationsSeen() { return gSeen; }

}  // namespace hx
