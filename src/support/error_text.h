// Error codes of the sound library and their texts.
#pragma once

#include <cstdint>
#include <span>

namespace hx {

enum : int32_t {
  errHardwareLimitation = 23001,
  errNotEnoughMemory = 23002,
  errNotInitialized = 23003,
  errSamplesNotReady = 23004,
  errUnknownSoundFormat = 23005,
  errUnknownDevice = 23006,
  errUnknownSource = 23007,
  errIncompatibleSoundInput = 23008,
};

// Constant text of any code; "Unknown error" for codes it does not know.
// Never null; the text lives as long as the module.
const char* ErrorText(int32_t code);

struct ErrorTextEntry {
  int32_t code;
  const char* text;
};

// Every code ErrorText knows, in lookup order, so tests can walk them.
std::span<const ErrorTextEntry> errorTextTable();

}  // namespace hx
