// Values printed as a script console shows them.
#include "host/host_impl.h"

namespace hx::host {

// Escaped so that a printed value always stays on one line and reads back
// the way a script writes it.
static void appendQuoted(const std::string& text, std::string& out) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  out += '"';
}

void Host::Impl::format(const HxValue& v, int depth, std::string& out) const {
  if (isVoid(v)) {
    out += "<void>";
    return;
  }
  const Cell* cell = cellOf(v);
  if (cell == nullptr) {
    out += "<invalid>";
    return;
  }
  char buf[64];
  switch (cell->kind()) {
    case Kind::Integer:
      std::snprintf(buf, sizeof buf, "%" PRId32, cell->integer);
      out += buf;
      break;
    case Kind::Float:
      std::snprintf(buf, sizeof buf, "%.9g", cell->real);
      out += buf;
      break;
    case Kind::String:
      appendQuoted(textOf(*cell), out);
      break;
    case Kind::Object:
      out += "<object>";
      break;
    case Kind::List:
      if (depth >= kMaxFormatDepth) {
        out += "[...]";
        break;
      }
      out += '[';
      for (size_t i = 0; i < listOf(*cell).items.size(); ++i) {
        if (i > 0) out += ", ";
        format(slotValue(listOf(*cell).items[i]), depth + 1, out);
      }
      out += ']';
      break;
    case Kind::Free:
      break;
  }
}

}  // namespace hx::host
