// The text that describes the script class to the host.
#pragma once

namespace hx {

// Twelve lines, line feeds only; the host numbers the method lines from 0.
extern const char kMethodTable[];

}  // namespace hx
