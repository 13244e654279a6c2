#include "audio/stream_audio_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "video/movie_origin.h"

namespace quillon {
namespace {

struct FormatCloser {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecFreer {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct SwrFreer {
  void operator()(SwrContext* p) const { swr_free(&p); }
};

// Decoding failures in a row after which the track is taken to end there.
constexpr int kFailuresToGiveUp = 64;
// Leading silence is written in pieces of at most this many bytes.
constexpr uint64_t kSilenceChunkBytes = 1 << 20;

bool IsPcmCodec(AVCodecID id) {
  return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

}  // namespace

struct StreamAudioReader::Decoder {
  std::unique_ptr<AVFormatContext, FormatCloser> format;
  std::unique_ptr<AVCodecContext, CodecFreer> codec;
  std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
  // Made when the decoded layout is not what is delivered (planar, float, 32-bit, > 2 ch).
  std::unique_ptr<SwrContext, SwrFreer> swr;
  AVSampleFormat swrInFormat = AV_SAMPLE_FMT_NONE;
  int swrInChannels = 0;
  int swrInRate = 0;
  int stream = -1;
  AVRational timeBase{1, 1};
  int64_t startPts = 0;
  AVSampleFormat outFormat = AV_SAMPLE_FMT_S16;
  int outChannels = 0;
  // Track frame number of the next decoded sample when frames carry no time stamp.
  int64_t nextSample = 0;
  // Samples before this track frame are dropped (after a seek).
  int64_t skipUntil = 0;
  // The track frame asked for after a seek, until the first sound arrives; -1 after that.
  int64_t silenceFrom = -1;
  // The sound stream's own first timestamp (startPts is the movie's origin, which may be
  // earlier), and the track frames between the two.
  int64_t ownStartPts = 0;
  int64_t leadFrames = 0;
  // Silent track frames still to hand out before the decoded frame held in `frame`.
  int64_t silenceOwed = 0;
  bool frameHeld = false;
  bool draining = false;
  bool ended = false;
  int failuresInARow = 0;
  std::vector<uint8_t> converted;
};

StreamAudioReader::StreamAudioReader() = default;

StreamAudioReader::~StreamAudioReader() {
  Close();
}

void StreamAudioReader::Close() {
  decoder_.reset();
  totalFrames = 0;
  durationMs = 0;
  channels = 0;
  frameBytes = 0;
  sampleRate = 0;
  window.Free();
  windowStart = windowFrames = pos = 0;
  firstAfterSeek = true;
}

bool StreamAudioReader::Open(const std::string& path) {
  Close();
  auto d = std::make_unique<Decoder>();
  if (!d->packet || !d->frame) return false;

  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
  d->format.reset(raw);
  if (avformat_find_stream_info(raw, nullptr) < 0) return false;

  d->stream = FirstMovieStream(*raw, AVMEDIA_TYPE_AUDIO);
  if (d->stream < 0) return false;
  AVStream* st = raw->streams[d->stream];
  const AVCodecParameters* par = st->codecpar;
  if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) return false;

  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (codec == nullptr) return false;
  d->codec.reset(avcodec_alloc_context3(codec));
  if (!d->codec) return false;
  if (avcodec_parameters_to_context(d->codec.get(), par) < 0) return false;
  d->codec->pkt_timebase = st->time_base;
  if (avcodec_open2(d->codec.get(), codec, nullptr) < 0) return false;

  // Other streams are never decoded; letting the demuxer drop them saves reading work.
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    if (static_cast<int>(i) != d->stream) raw->streams[i]->discard = AVDISCARD_ALL;
  }

  d->timeBase = st->time_base;
  const int64_t origin = MovieOriginPts(*raw, d->stream);
  d->startPts = origin != AV_NOPTS_VALUE ? origin : 0;
  d->ownStartPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : d->startPts;
  d->outChannels = std::min(par->ch_layout.nb_channels, 2);
  // 8-bit unsigned PCM is delivered as it is stored; AudioStore converts it.
  const bool u8 =
      par->codec_id == AV_CODEC_ID_PCM_U8 && d->outChannels == par->ch_layout.nb_channels;
  d->outFormat = u8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;

  d->leadFrames =
      av_rescale_q(d->ownStartPts - d->startPts, st->time_base, AVRational{1, par->sample_rate});
  sampleRate = static_cast<uint32_t>(par->sample_rate);
  channels = static_cast<uint8_t>(d->outChannels);
  bytesPerSample = u8 ? 1 : 2;
  frameBytes = static_cast<uint32_t>(channels) * bytesPerSample;
  decodeKind = IsPcmCodec(par->codec_id) ? AudioDecodeKind::kPcm : AudioDecodeKind::kCodec;
  microsecondsPerFrame = 1000000.0 / sampleRate;

  int64_t frames = 0;
  if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
    // From the movie's origin: a sound that begins after the pictures begins with silence.
    frames = av_rescale_q(st->duration + (d->ownStartPts - d->startPts), st->time_base,
                          AVRational{1, par->sample_rate});
  } else if (raw->duration != AV_NOPTS_VALUE && raw->duration > 0) {
    frames = av_rescale(raw->duration, par->sample_rate, AV_TIME_BASE);
  }
  if (frames <= 0) return false;
  frames = std::min<int64_t>(frames, UINT32_MAX);
  totalFrames = static_cast<uint32_t>(frames);
  durationMs = static_cast<uint32_t>(
      std::min<int64_t>(av_rescale(frames, 1000, par->sample_rate), UINT32_MAX));

  decoder_ = std::move(d);
  window.Allocate();
  windowStart = windowFrames = pos = 0;
  firstAfterSeek = true;
  return true;
}

int64_t StreamAudioReader::Fetch(uint64_t bytes, ByteBuffer& out) {
  if (!decoder_) return -1;
  Decoder& d = *decoder_;
  if (firstAfterSeek) {
    const int64_t target = windowStart + static_cast<int64_t>(windowFrames);
    // Within the silence before the sound's first packet, the search starts at that packet.
    const int64_t ts = std::max(
        d.ownStartPts,
        d.startPts + av_rescale_q(target, AVRational{1, static_cast<int>(sampleRate)}, d.timeBase));
    // A failed seek (a stream that cannot seek) is not fatal at the start.
    if (av_seek_frame(d.format.get(), d.stream, ts, AVSEEK_FLAG_BACKWARD) < 0 && target > 0) {
      return -1;
    }
    avcodec_flush_buffers(d.codec.get());
    d.nextSample = target;
    d.skipUntil = target;
    d.silenceFrom = target;
    d.silenceOwed = 0;
    if (d.frameHeld) av_frame_unref(d.frame.get());
    d.frameHeld = false;
    d.draining = false;
    d.ended = false;
    d.failuresInARow = 0;
  }
  if (d.ended) return 0;

  uint64_t produced = 0;
  while (produced < bytes) {
    if (d.silenceOwed > 0) {
      const uint64_t asked = (bytes - produced + frameBytes - 1) / frameBytes;
      const auto frames = static_cast<uint32_t>(std::min<uint64_t>(
          {static_cast<uint64_t>(d.silenceOwed), asked, kSilenceChunkBytes / frameBytes}));
      const uint32_t n = frames * frameBytes;
      uint8_t* room = out.Reserve(n);
      if (room == nullptr) return -1;
      std::memset(room, d.outFormat == AV_SAMPLE_FMT_U8 ? 0x80 : 0x00, n);
      out.Skip(n);
      d.silenceOwed -= frames;
      produced += n;
      continue;
    }
    int rc = d.frameHeld ? 0 : avcodec_receive_frame(d.codec.get(), d.frame.get());
    d.frameHeld = false;
    if (rc == AVERROR(EAGAIN)) {
      if (d.draining) {
        d.ended = true;
        break;
      }
      rc = av_read_frame(d.format.get(), d.packet.get());
      if (rc == AVERROR(ENOMEM)) return -1;
      if (rc < 0) {
        // The end of the file, or a file that breaks off or turns to garbage: the sound ends
        // with what decoded before it.
        d.draining = true;
        avcodec_send_packet(d.codec.get(), nullptr);
        continue;
      }
      if (d.packet->stream_index == d.stream) {
        // A damaged packet loses its own sound only; the track reads on.
        rc = avcodec_send_packet(d.codec.get(), d.packet.get());
        if (rc == AVERROR(ENOMEM)) {
          av_packet_unref(d.packet.get());
          return -1;
        }
      }
      av_packet_unref(d.packet.get());
      continue;
    }
    if (rc == AVERROR_EOF) {
      d.ended = true;
      break;
    }
    if (rc == AVERROR(ENOMEM)) return -1;
    if (rc < 0) {
      // A packet that does not decode (a cut last sample, a damaged block) loses its own
      // sound only; a decoder that keeps failing has nothing more to give.
      if (++d.failuresInARow >= kFailuresToGiveUp) {
        d.ended = true;
        break;
      }
      continue;
    }
    d.failuresInARow = 0;

    AVFrame* f = d.frame.get();
    int64_t first = d.nextSample;
    const int64_t pts = f->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) {
      first =
          av_rescale_q(pts - d.startPts, d.timeBase, AVRational{1, static_cast<int>(sampleRate)});
    }
    const int n = f->nb_samples;
    d.nextSample = first + n;
    int skip = 0;
    if (first < d.skipUntil) skip = static_cast<int>(std::min<int64_t>(d.skipUntil - first, n));
    if (skip >= n) {
      av_frame_unref(f);
      continue;
    }
    d.skipUntil = 0;
    if (d.silenceFrom >= 0) {
      // A position within the lead of a sound that begins after the pictures: up to the first
      // sound is silence, so that the sound stays in time with the pictures. The frame waits
      // while the silence is handed out, no more of it a call than was asked.
      const int64_t gap =
          std::min<int64_t>({first, d.leadFrames, static_cast<int64_t>(totalFrames)}) -
          d.silenceFrom;
      d.silenceFrom = -1;
      if (gap > 0) {
        d.silenceOwed = gap;
        d.frameHeld = true;
        continue;
      }
    }

    const auto fmt = static_cast<AVSampleFormat>(f->format);
    const int inChannels = f->ch_layout.nb_channels;
    const uint8_t* data = nullptr;
    int outSamples = n;
    if (fmt == d.outFormat && inChannels == d.outChannels &&
        f->sample_rate == static_cast<int>(sampleRate)) {
      data = f->data[0];
    } else {
      if (!d.swr || d.swrInFormat != fmt || d.swrInChannels != inChannels ||
          d.swrInRate != f->sample_rate) {
        AVChannelLayout inLayout{};  // copy uninitialises its target first
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
          av_channel_layout_default(&inLayout, inChannels);
        } else if (av_channel_layout_copy(&inLayout, &f->ch_layout) < 0) {
          return -1;
        }
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, d.outChannels);
        SwrContext* swr = nullptr;
        // Output at the track's rate: a stream whose rate changes midway (some coded
        // streams do) still delivers what the figures announce.
        rc = swr_alloc_set_opts2(&swr, &outLayout, d.outFormat, static_cast<int>(sampleRate),
                                 &inLayout, fmt, f->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (rc < 0 || swr == nullptr || swr_init(swr) < 0) {
          swr_free(&swr);
          return -1;
        }
        d.swr.reset(swr);
        d.swrInFormat = fmt;
        d.swrInChannels = inChannels;
        d.swrInRate = f->sample_rate;
      }
      const int capacity = swr_get_out_samples(d.swr.get(), n);
      if (capacity < 0) return -1;
      d.converted.resize(static_cast<size_t>(capacity) * frameBytes + frameBytes);
      uint8_t* dst = d.converted.data();
      outSamples = swr_convert(d.swr.get(), &dst, capacity + 1,
                               const_cast<const uint8_t**>(f->extended_data), n);
      if (outSamples < 0) return -1;
      data = d.converted.data();
    }
    if (skip > outSamples) skip = outSamples;
    const uint32_t keepBytes = static_cast<uint32_t>(outSamples - skip) * frameBytes;
    if (keepBytes > 0 &&
        out.Append(data + static_cast<size_t>(skip) * frameBytes, keepBytes) == 0) {
      av_frame_unref(f);
      return -1;
    }
    produced += keepBytes;
    av_frame_unref(f);
  }
  return static_cast<int64_t>(produced);
}

}  // namespace quillon
