#include "script/method_table.h"

namespace hx {

// Lines 7 and 8 end with a blank before the line feed: scripts written
// against this class may have copied the text, so it stays byte for byte.
const char kMethodTable[] =
    "xtra Harmidex\n"
    "-- Version 1.1\n"
    "new object me, *\n"
    "-- All functions return 0 if error--\n"
    "openQuicktimeFile object me, string qtfilepath -- returns integer fileID\n"
    "closeFile object me, integer fileID --\n"
    "getSamples object me, integer fileID, integer startsample, integer nbSamples, * -- \n"
    "getAmplitude object me, integer fileID, integer startsample, integer nbSamples-- \n"
    "getFFT object me, integer fileID, integer startsample, * --\n"
    "getSampleRate object me, integer fileID -- returns a float\n"
    "getEqualizedFreqCount object me, integer binCount -- number of equalized frequencies\n"
    "getError object me -- returns the last error string\n";

}  // namespace hx
