// _harmidex, the compiled part of the harmidex package: the module's calls
// with the GIL released, results handed to numpy without copying.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <memory>
#include <vector>

#include "analysis/working_buffers.h"
#include "audio/media_ops.h"
#include "cli/formats.h"
#include "cli/picture_limits.h"
#include "media/frame_count.h"
#include "python/src/module_host.h"
#include "script/method_facts.h"

namespace py = pybind11;

namespace hx::py_ext {
namespace {

using hx::pyhost::MethodFailure;
using hx::pyhost::NativeSound;
using hx::pyhost::OpenFailure;

// Factories set by the Python layer: they make its exception objects.
// Never destroyed, so that no Python object outlives the interpreter's end.
py::object* gOpenError = nullptr;
py::object* gMethodError = nullptr;

// The vector's buffer becomes the array's; the capsule frees it.
template <class T>
py::array_t<T> handOver(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
  auto* owned = new std::vector<T>(std::move(values));
  py::capsule free(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(shape, owned->data(), free);
}

py::array_t<float> handOver(std::vector<float>&& values) {
  const auto n = py::ssize_t(values.size());
  return handOver(std::move(values), {n});
}

void raiseFrom(py::object* factory, py::tuple args, const char* fallback) {
  if (factory == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, fallback);
    return;
  }
  py::object exc = (*factory)(*args);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
}

struct Plan {
  int64_t first = 0;
  int64_t count = 0;
  double hop = 0;
  std::vector<int64_t> starts;
  std::vector<double> times;
};

// The command's layout: column c is centred on first + (c + 0.5) * hop, its
// block starting half a block before; the time is the block's centre.
Plan columnPlan(int64_t first, int64_t count, double hop, int64_t columns, int32_t bins,
                int32_t timesmooth, double rate) {
  Plan p;
  p.first = first;
  p.count = count;
  p.hop = hop;
  const int64_t half = int64_t(bins) * timesmooth;
  p.starts.reserve(size_t(columns));
  p.times.reserve(size_t(columns));
  for (int64_t col = 0; col < columns; ++col) {
    const double centre = double(first) + (double(col) + 0.5) * hop;
    const int64_t start = std::llround(centre) - half;
    p.starts.push_back(start);
    p.times.push_back(double(start + half) / rate);
  }
  return p;
}

}  // namespace
}  // namespace hx::py_ext

PYBIND11_MODULE(_harmidex, m) {
  using namespace hx::py_ext;
  m.doc() = "Compiled host of the harmidex module; use the harmidex package instead.";
  // Every Sound counts its frames beside the open; at import, before any
  // thread of ours runs.
  hx::media::leaveASecondCoreToTheCount();

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const OpenFailure& e) {
      raiseFrom(gOpenError, py::make_tuple(e.code, e.text, std::string(e.what()), py::bytes(e.path)),
                e.what());
    } catch (const MethodFailure& e) {
      raiseFrom(gMethodError, py::make_tuple(std::string(e.what())), e.what());
    }
  });

  m.def("_set_error_factories", [](py::object open, py::object method) {
    gOpenError = new py::object(std::move(open));
    gMethodError = new py::object(std::move(method));
  });

  // The open codes that have a built-in exception of their own.
  m.attr("CODE_FILE_NOT_FOUND") = int(hx::fnfErr);
  m.attr("CODE_PATH_NOT_RESOLVED") = int(hx::dirNFErr);
  m.attr("CODE_PERMISSION") = int(hx::permErr);
  m.attr("CODE_NOT_A_FILE") = int(hx::notAFileErr);
  m.def("module_path", &hx::pyhost::modulePath);
  // C's rounding of a frame position, half away from zero, as the command rounds.
  m.def("llround", [](double x) { return int64_t(std::llround(x)); });
  m.attr("SPECTROGRAM_BINS") = hx::cli::kSpectrogramBins;
  m.attr("SPECTROGRAM_COLUMNS") = hx::cli::kSpectrogramWidth;
  m.attr("WAVEFORM_WIDTH") = hx::cli::kWaveformWidth;
  m.def("max_list_values", [] { return int64_t(hx::kMaxListValues); });
  m.def("default_bins", [] { return hx::kDefaultBinCount; });
  m.def("counters", [] {
    hx::pyhost::HostCounters c;
    {
      py::gil_scoped_release nogil;
      c = hx::pyhost::hostCounters();
    }
    py::dict d;
    d["live_values"] = c.liveValues;
    d["live_blocks"] = c.liveBlocks;
    d["interface_references"] = c.interfaceReferences;
    d["protocol_errors"] = c.protocolErrors;
    return d;
  });
  m.def("bands", [](int32_t bins) {
    py::gil_scoped_release nogil;
    return hx::pyhost::bandCount(bins);
  });
  m.def("bin_frequencies", [](int32_t bins, double rate) {
    std::vector<double> f(size_t(std::max(bins, 0)));
    for (int32_t b = 0; b < bins; ++b) f[size_t(b)] = hx::cli::binFrequency(b, bins, rate);
    return handOver(std::move(f), {py::ssize_t(f.size())});
  });
  m.def("band_edges", [](int32_t bands, int32_t bins, double rate) {
    // bands + 1 edges: band k spans edges k to k + 1.
    std::vector<double> e;
    for (int32_t k = 0; k < bands; ++k) {
      double low = 0, high = 0;
      hx::cli::bandEdges(k, bins, rate, &low, &high);
      if (k == 0) e.push_back(low);
      e.push_back(high);
    }
    const auto n = py::ssize_t(e.size());
    return handOver(std::move(e), {n});
  });

  py::class_<NativeSound>(m, "NativeSound")
      .def(py::init([](py::bytes path) {
        std::string p = path;
        py::gil_scoped_release nogil;
        return std::make_unique<NativeSound>(p);
      }))
      .def("close", [](NativeSound& s) {
        py::gil_scoped_release nogil;
        s.close();
      })
      .def_property_readonly("closed", &NativeSound::closed)
      .def_property_readonly("rate", &NativeSound::rate)
      .def_property_readonly("media_error", [](const NativeSound& s) { return s.media().error; })
      .def_property_readonly("frames", [](const NativeSound& s) -> py::object {
        if (s.frames() < 0) return py::none();
        return py::int_(s.frames());
      })
      .def("facts", [](const NativeSound& s) -> py::object {
        const hx::pyhost::MediaSummary& m = s.media();
        if (!m.probed) return py::str(m.error);
        const hx::media::MediaFacts& f = m.facts;
        py::dict d;
        d["container"] = f.container;
        d["container_long"] = f.containerLong;
        d["audio_tracks"] = f.audioTracks;
        d["video_tracks"] = f.videoTracks;
        d["track"] = f.trackNumber;
        d["stream_index"] = f.streamIndex;
        d["codec"] = f.codec;
        d["codec_long"] = f.codecLong;
        d["channels"] = f.channels;
        d["stored_rate_hz"] = f.storedRate;
        d["stated_duration_s"] =
            f.durationSeconds >= 0 ? py::object(py::float_(f.durationSeconds)) : py::none();
        return d;
      })
      .def("samples", [](NativeSound& s, int64_t start, int64_t count, double amplMax) {
        std::vector<float> v;
        {
          py::gil_scoped_release nogil;
          v = s.samples(start, count, amplMax);
        }
        return handOver(std::move(v));
      })
      .def("amplitude", [](NativeSound& s, int64_t start, int64_t count) {
        py::gil_scoped_release nogil;
        return s.amplitude(start, count);
      })
      .def("fft", [](NativeSound& s, int64_t start, int32_t bins, int32_t timesmooth, double amplMax,
                     bool normalized, bool equalized) {
        std::vector<float> v;
        {
          py::gil_scoped_release nogil;
          v = s.fft(start, bins, timesmooth, amplMax, normalized, equalized);
        }
        return handOver(std::move(v));
      })
      .def("spectrogram", [](NativeSound& s, int64_t first, int64_t count, double hop, int64_t columns,
                             int32_t bins, int32_t timesmooth, bool normalized, bool equalized,
                             int64_t maxCells) {
        Plan plan;
        std::vector<float> v;
        int32_t rows = 0;
        {
          py::gil_scoped_release nogil;
          plan = columnPlan(first, count, hop, columns, bins, timesmooth, s.rate());
          v = s.columns(plan.starts, bins, timesmooth, normalized, equalized, maxCells, &rows);
        }
        const auto cols = py::ssize_t(plan.starts.size());
        py::array_t<float> values = handOver(std::move(v), {cols, py::ssize_t(rows)});
        py::array_t<double> times = handOver(std::move(plan.times), {cols});
        py::array_t<int64_t> starts = handOver(std::move(plan.starts), {cols});
        return py::make_tuple(values, times, starts);
      });
}
