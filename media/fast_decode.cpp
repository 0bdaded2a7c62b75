// Choosing between the fast paths and the serial decode; the second demuxer
// and the decoder that every path opens the same way.
#include "media/fast_decode.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "media/ffmpeg_backend.h"
#include "media/parallel_decode.h"
#include "media/pcm_direct.h"

namespace hx::media {
namespace {

struct Settings {
  std::mutex lock;
  DecodeTuning tuning;
};
Settings& settings() {
  static Settings s;
  return s;
}
std::atomic<DecodePath> gLastPath{DecodePath::serial};

DecodeTuning currentTuning() {
  Settings& s = settings();
  std::lock_guard<std::mutex> hold(s.lock);
  DecodeTuning t = s.tuning;
  const char* forced = std::getenv(kSerialDecodeVariable);
  if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "0") != 0) t.serial = true;
  return t;
}

}  // namespace

void setDecodeTuning(const DecodeTuning& tuning) {
  Settings& s = settings();
  std::lock_guard<std::mutex> hold(s.lock);
  s.tuning = tuning;
}

DecodePath lastDecodePath() { return gLastPath.load(); }

int SecondInput::Interrupt::check(void* self) {
  auto* i = static_cast<Interrupt*>(self);
  if (!i->passed && Clock::now() >= i->end) i->passed = true;
  return i->passed ? 1 : 0;
}

OSErr SecondInput::open(const std::string& url, Clock::time_point deadline) {
  interrupt_->end = deadline;
  interrupt_->passed = false;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set_int(&options, "probesize", kProbeBytes, 0);
  av_dict_set_int(&options, "formatprobesize", kProbeBytes, 0);
  av_dict_set_int(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) {
    av_dict_free(&options);
    return memFullErr;
  }
  raw->interrupt_callback = {Interrupt::check, interrupt_.get()};
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);  // frees raw on failure
  av_dict_free(&options);
  if (opened < 0) return interrupt_->passed ? openTimedOutErr : invalidMovie;
  format_.reset(raw);
  const int analysed = avformat_find_stream_info(raw, nullptr);
  if (interrupt_->passed) return openTimedOutErr;
  return analysed < 0 ? invalidMovie : noErr;
}

OSErr openTrackDecoder(const AVStream* stream, AVCodecContext** out) {
  *out = nullptr;
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) return cantFindHandler;
  std::unique_ptr<AVCodecContext, DecoderFreer> c(avcodec_alloc_context3(codec));
  if (!c) return memFullErr;
  if (avcodec_parameters_to_context(c.get(), stream->codecpar) < 0) return memFullErr;
  c->pkt_timebase = stream->time_base;
  const int opened = avcodec_open2(c.get(), codec, nullptr);
  if (opened == AVERROR(ENOMEM)) return memFullErr;
  if (opened < 0) return cantFindHandler;
  *out = c.release();
  return noErr;
}

std::optional<OSErr> decodeFast(const TrackSource& source, SoundWriter& out) {
  gLastPath = DecodePath::serial;
  const DecodeTuning tuning = currentTuning();
  if (tuning.serial || !out.keepsAll() || out.configured()) return std::nullopt;
  std::optional<OSErr> result = readPcmDirect(source, out);
  if (result) {
    gLastPath = DecodePath::pcmDirect;
    return result;
  }
  result = decodeInPieces(source, tuning, out);
  if (result) gLastPath = DecodePath::parallel;
  return result;
}

}  // namespace hx::media
