// Optional diagnostic log, shared by the whole module.
//
// Module-wide state (flag, path, line buffer), unguarded: every caller runs
// on the host's thread. The file is opened, appended and closed for every
// line so that it is complete on disk after each call.
#pragma once

namespace hx {

// Switches the log on at path (emptying a previous log of ours and writing
// the start line) or off when path is null or empty. A non-empty file that
// is not one of our logs (or a file that cannot be read to tell) is left
// untouched and logging is switched off, as it is for a path of 1024 bytes
// or more. A path whose file cannot be created leaves logging on; its lines
// are dropped until the file can be opened.
void OpenLog(const char* path);

// Appends one printf-style line while logging is on; silently dropped when
// the file cannot be opened. A line longer than 1023 bytes is cut there.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// For tests: whether logging is on.
bool LogIsOn();

}  // namespace hx
