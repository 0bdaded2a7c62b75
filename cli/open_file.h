// Opening the file a command works on, with failures explained for the
// person at the terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/session.h"

namespace hx::cli {

// The fileID the first open on a new object gives.
inline constexpr int32_t kFirstFileId = 1;

// What an open's result code means, in a few words ("file not found").
std::string openCodeMeaning(int32_t code);

// The lines that explain a failed open: the module's text with the code's
// meaning after it, then a sentence on what to do where there is one.
std::string explainOpenFailure(const std::string& moduleText, int32_t code,
                               const std::string& path);

// openQuicktimeFile on the session's object; true when it gave kFirstFileId.
// On failure the module's text and its explanation go to err.
bool openFirstFile(Session& session, const std::string& path, std::FILE* err);

}  // namespace hx::cli
