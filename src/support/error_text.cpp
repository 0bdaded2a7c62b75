#include "support/error_text.h"

namespace hx {
namespace {

constexpr int32_t hresult(uint32_t bits) { return static_cast<int32_t>(bits); }

// COM and DirectSound results first, then the sound library's own codes.
// Texts are kept byte for byte, blanks included.
constexpr ErrorTextEntry kErrorTexts[] = {
    {hresult(0x00000000), "No error"},
    {hresult(0x80070057), "Invalid parameters"},
    {hresult(0x80040110), "The object does not support aggregation"},
    {hresult(0x8007000E), "Not enough memory"},
    {hresult(0x88780064), "The specified wave format is not supported"},
    {hresult(0x80004005), "An undetermined error occurred inside the DirectSound subsystem"},
    {hresult(0x88780078), "No sound driver is available for use"},
    {hresult(0x887800AA), "Device not initialized"},
    {hresult(0x80004001), " The function called is not supported at this time "},
    {hresult(0x88780082), "The object is already initialized"},
    {hresult(0x88780032), "This function is not valid for the current state of this object"},
    {hresult(0x8878000A),
     "The request failed because resources, such as a priority level, were already in use by "
     "another caller"},
    {hresult(0x88780096), "The buffer memory has been lost and must be restored"},
    {hresult(0x8878001E),
     "The control (volume, pan, and so forth) requested by the caller is not available"},
    {hresult(0x80004002), "The requested COM interface is not available"},
    {hresult(0x887800A0),
     "Another application has a higher priority level, preventing this call from succeeding"},
    {hresult(0x88780046),
     "The caller does not have the priority level required for the function to succeed"},

    {errHardwareLimitation, "Hardware limitation"},
    {errNotEnoughMemory, "Not enough memory"},
    {errNotInitialized, "Not Initialized"},
    {errSamplesNotReady, "Samples not ready"},
    {errUnknownSoundFormat, "Unknown Sound Format"},
    {errUnknownDevice, "Unknown Device"},
    {errUnknownSource, "Unknown Source"},
    {errIncompatibleSoundInput, "Incompatible Sound Input"},
};

}  // namespace

const char* ErrorText(int32_t code) {
  for (const ErrorTextEntry& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "Unknown error";
}

std::span<const ErrorTextEntry> errorTextTable() { return kErrorTexts; }

}  // namespace hx
