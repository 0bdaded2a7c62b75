// The five entry points of the module linked into a program (tests,
// fuzzers), as a table of the caller's own type, such as our host's
// EntryPoints: the same calls a host makes through the module file.
#pragma once

#include "hx_entry.h"

namespace hx {

template <class Table>
Table LinkedEntryPoints() {
  Table entry;
  entry.getClassInfo = DllGetClassInfo;
  entry.getClassForm = DllGetClassForm;
  entry.getInterface = DllGetInterface;
  entry.canUnloadNow = DllCanUnloadNow;
  entry.getClassObject = DllGetClassObject;
  return entry;
}

}  // namespace hx
