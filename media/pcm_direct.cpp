// Plain PCM without a decoder: the data chunk located by our own reading of
// the container, checked against FFmpeg's view of it, read into the buffer
// and put in the order and width the serial decode gives (16-bit, host
// order; 8-bit samples widened as the converter widens them).
#include "media/pcm_direct.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace hx::media {
namespace {

constexpr int kMaxChunks = 4096;           // a walk through more is not a file we trust
constexpr uint64_t kReadSlice = 8u << 20;  // the deadline is checked between slices

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool readAt(int fd, uint64_t offset, void* to, size_t bytes) {
  auto* p = static_cast<uint8_t*>(to);
  while (bytes > 0) {
    const ssize_t got = ::pread(fd, p, bytes, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    offset += uint64_t(got);
    bytes -= size_t(got);
  }
  return true;
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24; }
uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

// The three containers differ in the size field (RIFF little-endian 32-bit,
// IFF big-endian 32-bit, CAF big-endian 64-bit), padding (RIFF and IFF pad
// chunks to an even length) and what precedes the samples in the data chunk.
struct Walk {
  uint64_t first;     // offset of the first chunk
  int sizeBytes;      // 4 or 8
  bool bigEndian;
  bool padded;
  const char* dataId;
  uint64_t prefix;    // bytes before the samples in the data chunk (AIFF adds its offset field)
};

std::optional<PcmDataChunk> walkTo(int fd, const Walk& w, bool aiff) {
  uint64_t pos = w.first;
  for (int i = 0; i < kMaxChunks; ++i) {
    uint8_t head[12] = {};
    const uint64_t headBytes = 4 + uint64_t(w.sizeBytes);
    if (!readAt(fd, pos, head, headBytes)) return std::nullopt;
    const uint64_t size = w.sizeBytes == 8 ? be64(head + 4) : w.bigEndian ? be32(head + 4) : le32(head + 4);
    const uint64_t payload = pos + headBytes;
    if (std::memcmp(head, w.dataId, 4) == 0) {
      PcmDataChunk c;
      const bool toEnd = w.sizeBytes == 8 && size == UINT64_MAX;  // CAF's "runs to the end"
      uint64_t skip = w.prefix;
      if (aiff) {
        uint8_t offset[4];
        if (!readAt(fd, payload, offset, 4)) return std::nullopt;
        skip += be32(offset);
      }
      if (!toEnd && size < skip) return std::nullopt;
      c.offset = payload + skip;
      c.bytes = toEnd ? UINT64_MAX : size - skip;
      return c;
    }
    if (w.sizeBytes == 8 && size > (uint64_t(1) << 62)) return std::nullopt;
    pos = payload + size + (w.padded ? (size & 1) : 0);
  }
  return std::nullopt;
}

// The bytes the decoder and converter turn each sample into, in place: the
// samples of count values read at the start of data (16-bit) or, for 8-bit,
// at data + count, become count 16-bit values from data on.
void widenOrSwap(AVCodecID codec, uint8_t* data, uint64_t count) {
  auto* out = reinterpret_cast<int16_t*>(data);
  const uint8_t* in = data + count;  // 8-bit input sits in the upper half
  switch (codec) {
    case AV_CODEC_ID_PCM_U8:
      for (uint64_t i = 0; i < count; ++i) out[i] = int16_t((int(in[i]) - 0x80) * 256);
      break;
    case AV_CODEC_ID_PCM_S8:
      for (uint64_t i = 0; i < count; ++i) out[i] = int16_t(int(int8_t(in[i])) * 256);
      break;
    case AV_CODEC_ID_PCM_S16LE:
      if constexpr (std::endian::native == std::endian::big)
        for (uint64_t i = 0; i < count; ++i) out[i] = int16_t(__builtin_bswap16(uint16_t(out[i])));
      break;
    case AV_CODEC_ID_PCM_S16BE:
      if constexpr (std::endian::native == std::endian::little)
        for (uint64_t i = 0; i < count; ++i) out[i] = int16_t(__builtin_bswap16(uint16_t(out[i])));
      break;
    default:
      break;
  }
}

int sampleBytesOf(AVCodecID codec) {
  switch (codec) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8:
      return 1;
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
      return 2;
    default:
      return 0;
  }
}

// Where FFmpeg's demuxer reads the first packet of the stream, or -1.
int64_t firstPacketPos(AVFormatContext* f, int streamIndex) {
  for (unsigned i = 0; i < f->nb_streams; ++i)
    if (int(i) != streamIndex) f->streams[i]->discard = AVDISCARD_ALL;
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return -1;
  int64_t pos = -1;
  while (av_read_frame(f, packet) >= 0) {
    const bool ours = packet->stream_index == streamIndex;
    if (ours) pos = packet->pos;
    av_packet_unref(packet);
    if (ours) break;
  }
  av_packet_free(&packet);
  return pos;
}

}  // namespace

std::optional<PcmDataChunk> findPcmData(const std::string& path, const std::string& kind) {
  Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return std::nullopt;
  uint8_t head[12] = {};
  if (!readAt(file.fd, 0, head, sizeof head)) return std::nullopt;
  if (kind == "wav") {
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return std::nullopt;
    return walkTo(file.fd, {12, 4, false, true, "data", 0}, false);
  }
  if (kind == "aiff") {
    if (std::memcmp(head, "FORM", 4) != 0 ||
        (std::memcmp(head + 8, "AIFF", 4) != 0 && std::memcmp(head + 8, "AIFC", 4) != 0))
      return std::nullopt;
    return walkTo(file.fd, {12, 4, true, true, "SSND", 8}, true);
  }
  if (kind == "caf") {
    if (std::memcmp(head, "caff", 4) != 0) return std::nullopt;
    return walkTo(file.fd, {8, 8, true, false, "data", 4}, false);
  }
  return std::nullopt;
}

std::optional<OSErr> readPcmDirect(const TrackSource& source, SoundWriter& out) {
  const AVFormatContext* movie = source.movie;
  const AVStream* stream = movie->streams[source.streamIndex];
  const AVCodecParameters* par = stream->codecpar;
  const int sampleBytes = sampleBytesOf(par->codec_id);
  const int channels = par->ch_layout.nb_channels;
  const std::string kind = movie->iformat != nullptr ? movie->iformat->name : "";
  if (sampleBytes == 0 || channels < 1 || channels > 2 || par->sample_rate <= 0 ||
      par->sample_rate > 65535 || (kind != "wav" && kind != "aiff" && kind != "caf"))
    return std::nullopt;
  const uint64_t frameBytes = uint64_t(sampleBytes) * uint64_t(channels);
  if (par->block_align != int(frameBytes) || stream->time_base.num != 1 ||
      stream->time_base.den != par->sample_rate)
    return std::nullopt;

  const std::string path = pathOfMovie(movie);
  const std::optional<PcmDataChunk> chunk = findPcmData(path, kind);
  struct stat st;
  if (!chunk || ::stat(path.c_str(), &st) != 0 || uint64_t(st.st_size) < chunk->offset) return std::nullopt;
  const uint64_t frames = std::min(chunk->bytes, uint64_t(st.st_size) - chunk->offset) / frameBytes;
  // FFmpeg's demuxer must see the same extent: the length it states and the
  // place it reads first. Anything else (a truncated file, a second data
  // chunk, a length field it overrides) goes the serial way.
  if (frames == 0 || stream->duration != int64_t(frames)) return std::nullopt;
  SecondInput input;
  if (OSErr err = input.open(movie, source.deadline)) {
    if (err == openTimedOutErr) return err;
    return std::nullopt;
  }
  if (firstPacketPos(input.get(), source.streamIndex) != int64_t(chunk->offset)) return std::nullopt;

  // The serial path configures the writer from the first decoded frame; a
  // frame of the stream's layout and rate stands in for it.
  AVFrame* like = av_frame_alloc();
  if (like == nullptr) return memFullErr;
  like->format = sampleBytes == 1 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  like->sample_rate = par->sample_rate;
  OSErr err = av_channel_layout_copy(&like->ch_layout, &par->ch_layout) < 0 ? memFullErr : noErr;
  if (!err) err = codeOf(out.configure(like, double(frames) / par->sample_rate));
  av_frame_free(&like);
  uint8_t* at = nullptr;
  if (!err) err = codeOf(out.claim(frames, &at));
  if (err) {
    out.reset();
    return err;
  }

  Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  const uint64_t values = frames * uint64_t(channels);
  const uint64_t bytes = frames * frameBytes;
  uint8_t* to = sampleBytes == 1 ? at + values : at;
  bool whole = file.fd >= 0;
  for (uint64_t done = 0; whole && done < bytes; done += kReadSlice) {
    if (Clock::now() >= source.deadline) {
      out.reset();
      return openTimedOutErr;
    }
    whole = readAt(file.fd, chunk->offset + done, to + done, size_t(std::min(kReadSlice, bytes - done)));
  }
  if (!whole) {  // the file changed under us: let the decoder say what it holds now
    out.reset();
    return std::nullopt;
  }
  widenOrSwap(par->codec_id, at, values);
  return noErr;
}

}  // namespace hx::media
