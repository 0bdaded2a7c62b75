// The bounded container open, the track rule, the probe of a container's
// facts and the count of the frames the module decodes.
#include "media/media_probe.h"

#include <cmath>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "media/track_decoder.h"

namespace hx::media {

// ---- deadline and container --------------------------------------------------

void Deadline::startNow(std::chrono::milliseconds budget) {
  end = Clock::now() + budget;
  passed = false;
}

int Deadline::check(void* self) {
  auto* d = static_cast<Deadline*>(self);
  if (!d->passed && (Clock::now() >= d->end || (d->stop != nullptr && d->stop->load())))
    d->passed = true;
  return d->passed ? 1 : 0;
}

void Container::Closer::operator()(AVFormatContext* f) const { avformat_close_input(&f); }

Container::Container() : deadline_(std::make_unique<Deadline>()) {}
Container::~Container() = default;
Container::Container(Container&&) noexcept = default;
Container& Container::operator=(Container&&) noexcept = default;

OpenResult openContainer(const std::string& path, std::chrono::milliseconds budget, Container* out,
                         const std::atomic<bool>* stop) try {
  // Callers report by result; FFmpeg's own messages would only clutter
  // the console.
  av_log_set_level(AV_LOG_FATAL);
  Container c;
  const std::string url = "file:" + path;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set_int(&options, "probesize", kProbeBytes, 0);
  av_dict_set_int(&options, "formatprobesize", kProbeBytes, 0);
  av_dict_set_int(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
  c.deadline_->stop = stop;
  c.deadline_->startNow(budget);
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) {
    av_dict_free(&options);
    return OpenResult::noMemory;
  }
  raw->interrupt_callback = {Deadline::check, c.deadline_.get()};
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);  // frees raw on failure
  av_dict_free(&options);
  if (c.deadline_->passed) {
    if (opened >= 0) avformat_close_input(&raw);
    return OpenResult::timedOut;
  }
  if (opened < 0) return opened == AVERROR(ENOMEM) ? OpenResult::noMemory : OpenResult::notMedia;
  c.format_.reset(raw);
  const int analysed = avformat_find_stream_info(raw, nullptr);
  if (c.deadline_->passed) return OpenResult::timedOut;
  if (analysed < 0) return OpenResult::notMedia;
  *out = std::move(c);
  return OpenResult::opened;
} catch (...) {
  return OpenResult::noMemory;
}

namespace {

bool isAudio(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
         !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

bool isVideo(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
         !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

}  // namespace

std::vector<int> audioStreams(const AVFormatContext* f, bool enabledOnly) {
  bool anyMarked = false;
  for (unsigned i = 0; i < f->nb_streams; ++i)
    anyMarked |= isAudio(f->streams[i]) && (f->streams[i]->disposition & AV_DISPOSITION_DEFAULT);
  const bool markedOnly = enabledOnly && anyMarked;
  std::vector<int> out;
  for (unsigned i = 0; i < f->nb_streams; ++i) {
    const AVStream* s = f->streams[i];
    if (isAudio(s) && (!markedOnly || (s->disposition & AV_DISPOSITION_DEFAULT)))
      out.push_back(int(i));
  }
  return out;
}

double statedSeconds(const AVFormatContext* f, int stream) {
  const AVStream* s = f->streams[stream];
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0) return double(s->duration) * av_q2d(s->time_base);
  if (f->duration != AV_NOPTS_VALUE && f->duration > 0) return double(f->duration) / AV_TIME_BASE;
  return -1.0;
}

// ---- probe -------------------------------------------------------------------

namespace {

const char* openFailureText(OpenResult r) {
  switch (r) {
    case OpenResult::timedOut:
      return "opening took longer than its deadline";
    case OpenResult::noMemory:
      return "out of memory";
    case OpenResult::notMedia:
    case OpenResult::opened:
      break;
  }
  return "not a container libavformat can read";
}

const char* decodeFailureText(MediaError e) {
  switch (e) {
    case MediaError::noMemory:
      return "out of memory";
    case MediaError::noDecoder:
      return "no decoder for the audio codec";
    case MediaError::undecodable:
      return "the audio could not be decoded";
    case MediaError::rateTooHigh:
      return "the sample rate is too high";
    case MediaError::tooLarge:
    case MediaError::none:
      break;
  }
  return "the decoded track is too long";
}

}  // namespace

bool probeMedia(const std::string& path, MediaFacts* facts, std::string* error) {
  Container c;
  if (OpenResult r = openContainer(path, std::chrono::milliseconds(kOpenBudgetMs), &c);
      r != OpenResult::opened) {
    *error = openFailureText(r);
    return false;
  }
  const AVFormatContext* raw = c.format();
  MediaFacts f;
  f.container = raw->iformat->name ? raw->iformat->name : "";
  f.containerLong = raw->iformat->long_name ? raw->iformat->long_name : "";
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    f.audioTracks += isAudio(raw->streams[i]) ? 1 : 0;
    f.videoTracks += isVideo(raw->streams[i]) ? 1 : 0;
  }
  const std::vector<int> enabled = audioStreams(raw, true);
  if (!enabled.empty()) {
    f.streamIndex = enabled.front();
    const std::vector<int> all = audioStreams(raw, false);
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i] == f.streamIndex) f.trackNumber = int(i) + 1;
    const AVStream* s = raw->streams[f.streamIndex];
    const AVCodecDescriptor* d = avcodec_descriptor_get(s->codecpar->codec_id);
    f.codec = d ? d->name : avcodec_get_name(s->codecpar->codec_id);
    f.codecLong = d && d->long_name ? d->long_name : "";
    f.channels = s->codecpar->ch_layout.nb_channels;
    f.storedRate = s->codecpar->sample_rate;
    f.durationSeconds = statedSeconds(raw, f.streamIndex);
    if (f.durationSeconds >= 0 && f.storedRate > 0)
      f.frames = std::llround(f.durationSeconds * f.storedRate);
  }
  *facts = f;
  return true;
}

// ---- frame count -------------------------------------------------------------

namespace {

// Converts into one reused block and keeps only the count.
class FrameCounter : public TrackConverter {
 public:
  using TrackConverter::TrackConverter;

 protected:
  uint8_t* roomFor(uint64_t /*kept*/, uint64_t frames, MediaError* error) override {
    const uint64_t bytes = frames * frameBytes();
    if (bytes > scratch_.max_size()) {
      *error = MediaError::noMemory;
      return nullptr;
    }
    if (scratch_.size() < bytes) scratch_.resize(size_t(bytes));
    return scratch_.data();
  }

 private:
  std::vector<uint8_t> scratch_;
};

// The whole number of Hz the module reads at, or 0 for its own choice.
int wholeRate(double moduleRate) {
  if (!(moduleRate >= 1.0 && moduleRate <= double(kHighestInputRate))) return 0;
  return moduleRate == std::floor(moduleRate) ? int(moduleRate) : 0;
}

// The frames at outRate (0: the layer's own choice, given in *rate).
bool countFrames(const std::string& path, int outRate, int64_t* frames, int* rate,
                 std::string* error, const std::atomic<bool>* stop) try {
  Container c;
  if (OpenResult r = openContainer(path, std::chrono::milliseconds(kOpenBudgetMs), &c, stop);
      r != OpenResult::opened) {
    *error = stop != nullptr && stop->load() ? "stopped" : openFailureText(r);
    return false;
  }
  const std::vector<int> streams = audioStreams(c.format(), true);
  if (streams.empty()) {
    *error = "no audio track";
    return false;
  }
  TrackDecoder decoder(c.format(), streams.front());
  FrameCounter out(outRate);
  MediaError err = decoder.open();
  c.deadline().startNow(std::chrono::milliseconds(kConvertBudgetMs));
  if (err == MediaError::none) err = decoder.decode(out);
  if (c.deadline().passed) {
    *error = stop != nullptr && stop->load() ? "stopped" : "decoding took longer than its deadline";
    return false;
  }
  if (err != MediaError::none) {
    *error = decodeFailureText(err);
    return false;
  }
  // A track with nothing in it is an empty sound at the track's own rate.
  *frames = int64_t(out.frames());
  *rate = out.configured() ? out.outRate()
                           : outRate > 0 ? outRate : soundRateFor(decoder.codec()->sample_rate);
  return true;
} catch (...) {
  *error = "out of memory";
  return false;
}

}  // namespace

bool countDecodedFrames(const std::string& path, double moduleRate, int64_t* frames,
                        std::string* error, const std::atomic<bool>* stop) {
  int rate = 0;
  return countFrames(path, wholeRate(moduleRate), frames, &rate, error, stop);
}

bool countDecodedFramesAtOwnRate(const std::string& path, int64_t* frames, int* rate,
                                 std::string* error, const std::atomic<bool>* stop) {
  return countFrames(path, 0, frames, rate, error, stop);
}

}  // namespace hx::media
