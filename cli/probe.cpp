#include "cli/probe.h"

#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace hx::cli {
namespace {

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

bool isAudio(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
         !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

bool isVideo(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
         !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// The track the module decodes: the first audio track the container marks
// enabled (FFmpeg's default disposition), or the first audio track when it
// marks none. The media layer chooses the same way; a test holds them together.
int chosenAudioStream(const AVFormatContext* f, int* trackNumber) {
  bool anyMarked = false;
  for (unsigned i = 0; i < f->nb_streams; ++i)
    anyMarked |= isAudio(f->streams[i]) && (f->streams[i]->disposition & AV_DISPOSITION_DEFAULT);
  int seen = 0;
  for (unsigned i = 0; i < f->nb_streams; ++i) {
    const AVStream* s = f->streams[i];
    if (!isAudio(s)) continue;
    ++seen;
    if (anyMarked && !(s->disposition & AV_DISPOSITION_DEFAULT)) continue;
    *trackNumber = seen;
    return int(i);
  }
  return -1;
}

double durationOf(const AVFormatContext* f, const AVStream* s) {
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0) return double(s->duration) * av_q2d(s->time_base);
  if (f->duration != AV_NOPTS_VALUE && f->duration > 0) return double(f->duration) / AV_TIME_BASE;
  return -1.0;
}

}  // namespace

bool probeMedia(const std::string& path, MediaFacts* facts, std::string* error) {
  av_log_set_level(AV_LOG_QUIET);
  AVFormatContext* raw = nullptr;
  if (int e = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); e < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(e, text, sizeof text);
    *error = text;
    return false;
  }
  std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
  // Reads packet headers (and for a few codecs a frame) to fill in the
  // stream parameters; the track itself is not decoded.
  if (avformat_find_stream_info(raw, nullptr) < 0) {
    *error = "cannot read the stream parameters";
    return false;
  }
  MediaFacts f;
  f.container = raw->iformat->name ? raw->iformat->name : "";
  f.containerLong = raw->iformat->long_name ? raw->iformat->long_name : "";
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    f.audioTracks += isAudio(raw->streams[i]) ? 1 : 0;
    f.videoTracks += isVideo(raw->streams[i]) ? 1 : 0;
  }
  f.streamIndex = chosenAudioStream(raw, &f.trackNumber);
  if (f.streamIndex >= 0) {
    const AVStream* s = raw->streams[f.streamIndex];
    const AVCodecDescriptor* d = avcodec_descriptor_get(s->codecpar->codec_id);
    f.codec = d ? d->name : avcodec_get_name(s->codecpar->codec_id);
    f.codecLong = d && d->long_name ? d->long_name : "";
    f.channels = s->codecpar->ch_layout.nb_channels;
    f.storedRate = s->codecpar->sample_rate;
    f.durationSeconds = durationOf(raw, s);
    if (f.durationSeconds >= 0 && f.storedRate > 0)
      f.frames = std::llround(f.durationSeconds * f.storedRate);
  }
  *facts = f;
  return true;
}

}  // namespace hx::cli
