#include "cli/formats.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/call_line.h"
#include "cli/commands.h"
#include "cli/open_file.h"
#include "cli/output.h"

namespace hx::cli {
namespace {

using nlohmann::json;

struct Column {
  const char* key;    // CSV header and JSON member: name and unit
  const char* title;  // table header
  bool integer;
};

// A result laid out as rows, plus what JSON carries besides them.
struct Report {
  std::vector<Column> columns;
  std::vector<double> cells;  // row by row, columns.size() per row
  const char* rowsKey = "rows";  // null: one row, whose members JSON puts beside the head
  json head;  // file, method, arguments, sample rate

  size_t rowCount() const { return columns.empty() ? 0 : cells.size() / columns.size(); }
  double cell(size_t row, size_t column) const { return cells[row * columns.size() + column]; }
  void addRow(std::initializer_list<double> row) { cells.insert(cells.end(), row); }
};

std::string cellText(const Column& column, double x) {
  if (!column.integer) return formatFloat(x);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRId64, static_cast<int64_t>(x));
  return buf;
}

bool writeCsv(std::FILE* out, const Report& r) {
  std::string line;
  for (const Column& c : r.columns) line += (line.empty() ? "" : ",") + std::string(c.key);
  bool ok = writeLine(out, line);
  for (size_t row = 0; row < r.rowCount(); ++row) {
    line.clear();
    for (size_t i = 0; i < r.columns.size(); ++i)
      line += (i ? "," : "") + cellText(r.columns[i], r.cell(row, i));
    ok = writeLine(out, line) && ok;
  }
  return ok;
}

bool writeTable(std::FILE* out, const Report& r) {
  std::vector<size_t> width;
  for (const Column& c : r.columns) width.push_back(std::string(c.title).size());
  for (size_t row = 0; row < r.rowCount(); ++row)
    for (size_t i = 0; i < r.columns.size(); ++i)
      width[i] = std::max(width[i], cellText(r.columns[i], r.cell(row, i)).size());
  auto pad = [](const std::string& s, size_t w) { return std::string(w - s.size(), ' ') + s; };
  std::string line;
  for (size_t i = 0; i < r.columns.size(); ++i) line += (i ? "  " : "") + pad(r.columns[i].title, width[i]);
  bool ok = writeLine(out, line);
  for (size_t row = 0; row < r.rowCount(); ++row) {
    line.clear();
    for (size_t i = 0; i < r.columns.size(); ++i)
      line += (i ? "  " : "") + pad(cellText(r.columns[i], r.cell(row, i)), width[i]);
    ok = writeLine(out, line) && ok;
  }
  return ok;
}

json jsonNumber(const Column& column, double x) {
  if (column.integer) return static_cast<int64_t>(x);
  if (!std::isfinite(x)) return nullptr;
  return x;
}

// Text that is not UTF-8 comes out with U+FFFD in place of each bad byte.
std::string jsonText(const json& value, int indent) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

// A member at depth one of an object printed with an indent of 2.
void writeMember(std::FILE* out, const std::string& key, const std::string& value, bool first) {
  std::string text = value;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3))
    text.replace(at, 1, "\n  ");
  std::fprintf(out, "%s\n  %s: ", first ? "{" : ",", jsonText(key, -1).c_str());
  std::fwrite(text.data(), 1, text.size(), out);
}

// The rows one by one, so a long list is never a document in memory.
void writeRows(std::FILE* out, const Report& r) {
  if (r.rowCount() == 0) {
    std::fputs("[]", out);
    return;
  }
  std::fputs("[", out);
  for (size_t row = 0; row < r.rowCount(); ++row) {
    json o = json::object();
    for (size_t i = 0; i < r.columns.size(); ++i)
      o[r.columns[i].key] = jsonNumber(r.columns[i], r.cell(row, i));
    std::string text = jsonText(o, 2);
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 5))
      text.replace(at, 1, "\n    ");
    std::fprintf(out, "%s\n    ", row == 0 ? "" : ",");
    std::fwrite(text.data(), 1, text.size(), out);
  }
  std::fputs("\n  ]", out);
}

// As json's dump(2) of the whole document would print it, members sorted.
bool writeJson(std::FILE* out, const Report& r) {
  json head = r.head;
  if (r.rowsKey == nullptr) {
    for (size_t i = 0; i < r.columns.size(); ++i)
      head[r.columns[i].key] = jsonNumber(r.columns[i], r.cell(0, i));
    return writeLine(out, jsonText(head, 2));
  }
  head[r.rowsKey] = nullptr;  // its place among the sorted members
  bool first = true;
  for (const auto& [key, value] : head.items()) {
    if (key == r.rowsKey) {
      writeMember(out, key, "", first);
      writeRows(out, r);
    } else {
      writeMember(out, key, jsonText(value, 2), first);
    }
    first = false;
  }
  return writeLine(out, "\n}");
}

bool writeReport(std::FILE* out, const Command& c, const Report& r) {
  if (c.table) return writeTable(out, r);
  if (c.format == Format::Csv) return writeCsv(out, r);
  return writeJson(out, r);
}

// Integer arguments, built one by one (see commands.cpp on GCC 12).
std::vector<Literal> intArgs(std::initializer_list<int32_t> values) {
  std::vector<Literal> args;
  for (int32_t v : values) args.emplace_back(v);
  return args;
}

// The method's result as floats; nullopt (with the module's text on err)
// when it answered something else.
std::optional<std::vector<double>> callFloats(Session& session, const Command& c, int32_t method,
                                              const std::vector<Literal>& args, std::FILE* err) {
  OwnedValue result = session.call(method, args);
  host::Host& host = session.host();
  if (host.typeOf(result.get()) == HX_TYPE_LIST) return listFloats(host, method, result.get(), err);
  if (auto x = host.floatOf(result.get())) return std::vector<double>{*x};
  writeLine(err, methodFailureText(c, session.lastError()));
  return std::nullopt;
}

void fftReport(const Command& c, double rate, const std::vector<double>& values, Report* r) {
  const int32_t m = c.bins.value_or(kDefaultBinCount);
  r->head["arguments"] = {{"fileID", kFirstFileId},
                          {"startsample", c.start.value_or(kDefaultStart)},
                          {"binCount", m},
                          {"timesmooth", c.timesmooth.value_or(kDefaultTimesmooth)},
                          {"amplMax", c.amplMax.value_or(kDefaultAmplMax)},
                          {"normalized", c.normalized ? 1 : 0},
                          {"equalized", c.equalized ? 1 : 0}};
  if (c.equalized) {
    r->columns = {{"band", "band", true}, {"low_hz", "low (Hz)", false},
                  {"high_hz", "high (Hz)", false}, {"value", "value", false}};
    r->rowsKey = "bands";
    for (size_t k = 0; k < values.size(); ++k) {
      double low = 0, high = 0;
      bandEdges(int32_t(k), m, rate, &low, &high);
      r->addRow({double(k), low, high, values[k]});
    }
    return;
  }
  r->columns = {{"bin", "bin", true}, {"frequency_hz", "frequency (Hz)", false},
                {"value", "value", false}};
  r->rowsKey = "bins";
  for (size_t b = 0; b < values.size(); ++b)
    r->addRow({double(b), binFrequency(int64_t(b), m, rate), values[b]});
}

void samplesReport(const Command& c, double rate, const std::vector<double>& values, Report* r) {
  const int32_t start = c.start.value_or(0);
  r->head["arguments"] = {{"fileID", kFirstFileId}, {"startsample", start},
                          {"nbSamples", c.count.value_or(0)},
                          {"amplMax", c.amplMax.value_or(kDefaultAmplMax)}};
  r->columns = {{"frame", "frame", true}, {"time_s", "time (s)", false},
                {"value", "value", false}};
  r->rowsKey = "samples";
  for (size_t i = 0; i < values.size(); ++i) {
    const double frame = double(start) + double(i);
    r->addRow({frame, rate > 0 ? frame / rate : 0.0, values[i]});
  }
}

void amplitudeReport(const Command& c, const std::vector<double>& values, Report* r) {
  r->head["arguments"] = {{"fileID", kFirstFileId}, {"startsample", c.start.value_or(0)},
                          {"nbSamples", c.count.value_or(0)}};
  r->columns = {{"peak", "peak (1 = full scale)", false}, {"peak_dbfs", "peak (dBFS)", false}};
  r->rowsKey = nullptr;
  const double peak = values.empty() ? 0.0 : values[0];
  r->addRow({peak, 20.0 * std::log10(peak)});
}

}  // namespace

double binFrequency(int64_t bin, int32_t binCount, double rate) {
  return double(bin) * rate / (2.0 * double(binCount));
}

void bandEdges(int32_t band, int32_t binCount, double rate, double* low, double* high) {
  const double first = band == 0 ? 0.0 : std::ldexp(1.0, band - 1);
  const double end = band == 0 ? 1.0 : 2.0 * first;
  *low = first * rate / (2.0 * double(binCount));
  *high = end * rate / (2.0 * double(binCount));
}

int printReport(Session& session, const Command& c, std::FILE* out, std::FILE* err) {
  const auto rate = callFloats(session, c, methodId("getSampleRate"), intArgs({kFirstFileId}), err);
  if (!rate) return kExitFailure;
  Report r;
  for (const auto& [key, value] : fileMembers(c.file)) r.head[key] = value;
  r.head["sample_rate_hz"] = (*rate)[0];
  std::optional<std::vector<double>> values;
  switch (c.action) {
    case Action::Fft: {
      std::vector<Literal> args = intArgs({kFirstFileId, c.start.value_or(kDefaultStart),
                                           c.bins.value_or(kDefaultBinCount),
                                           c.timesmooth.value_or(kDefaultTimesmooth)});
      args.emplace_back(c.amplMax.value_or(kDefaultAmplMax));
      args.emplace_back(int32_t{c.normalized ? 1 : 0});
      args.emplace_back(int32_t{c.equalized ? 1 : 0});
      r.head["method"] = "getFFT";
      values = callFloats(session, c, methodId("getFFT"), args, err);
      if (values) fftReport(c, (*rate)[0], *values, &r);
      break;
    }
    case Action::Samples: {
      std::vector<Literal> args = intArgs({kFirstFileId, c.start.value_or(0), c.count.value_or(0)});
      args.emplace_back(c.amplMax.value_or(kDefaultAmplMax));
      r.head["method"] = "getSamples";
      values = callFloats(session, c, methodId("getSamples"), args, err);
      if (values) samplesReport(c, (*rate)[0], *values, &r);
      break;
    }
    case Action::Amplitude:
      r.head["method"] = "getAmplitude";
      values = callFloats(session, c, methodId("getAmplitude"),
                          intArgs({kFirstFileId, c.start.value_or(0), c.count.value_or(0)}), err);
      if (values) amplitudeReport(c, *values, &r);
      break;
    case Action::Rate:
      r.head["method"] = "getSampleRate";
      r.head["arguments"] = {{"fileID", kFirstFileId}};
      r.columns = {{"sample_rate_hz", "sample rate (Hz)", false}};
      r.rowsKey = nullptr;
      r.addRow({(*rate)[0]});
      values = *rate;
      break;
    default:
      return kExitUsage;
  }
  if (!values) return kExitFailure;
  const auto write = [&](std::FILE* stream) { return writeReport(stream, c, r); };
  return writeStandardOutput(out, write, err) ? kExitOk : kExitFailure;
}

}  // namespace hx::cli
