#include "video/ffmpeg_video_reader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

#include "settings/trace.h"
#include "video/ffmpeg_frame_converter.h"
#include "video/frame_image.h"
#include "video/movie_origin.h"

namespace quillon {

namespace {

// A forward step longer than this may seek instead of decoding through: sequential requests,
// even at low output rates, stay well below it.
constexpr int64_t kSeekAheadMs = 2000;
// How far before a wanted time a retried seek goes when the first landing point decoded nothing
// at or before that time (grows fourfold per retry, then falls back to the stream start).
constexpr int64_t kSeekRetryMs = 2000;
constexpr int kSeekRetries = 4;
constexpr double kDefaultFps = 25.0;
// The largest picture side taken, stored or shown.
constexpr int64_t kLargestSide = 16384;
// The end of a stated length is checked by reading packets from this far before it.
constexpr int64_t kScanBackMs = 10000;
// A stated length is kept unless it runs this far past the last packet.
constexpr int64_t kStatedSlackMs = 1000;
// The timestamps of this many of the video stream's last packets are kept from the scan: more
// than a decoder has frame threads.
constexpr std::size_t kLastPacketsKept = 64;
// More errors than a draining decoder has frame threads and delayed pictures: it is stuck.
constexpr int kDrainErrorsMax = 256;

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Messages of the library of information level or graver, from any thread: a pass of the
// decoder with frame threads during which one came is not trusted (one from elsewhere only
// costs the pass).
std::atomic<uint64_t> libraryComplaints{0};

// FFmpeg writes its diagnostics to the terminal by default; they belong in the engine's trace.
void RouteLibraryLog(void* /*avcl*/, int level, const char* format, va_list args) {
  if (level <= AV_LOG_INFO) libraryComplaints.fetch_add(1, std::memory_order_relaxed);
  if (level > AV_LOG_WARNING) return;
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  std::size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
  Trace("ffmpeg: %s", line);
}

void SilenceLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(RouteLibraryLog);
  });
}

struct FormatCloser {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecFreer {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ParametersFreer {
  void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

// Clockwise quarter turns (0 to 3) that show the stream upright: its display matrix rounded
// to the nearest quarter turn, as FFmpeg's tools apply it (other angles are left alone).
int QuarterTurnsOf(const AVStream* stream) {
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double rotation = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (!std::isfinite(rotation)) return 0;
  // The matrix turns counter-clockwise; the picture is turned back clockwise.
  double clockwise = std::fmod(-rotation, 360.0);
  if (clockwise < 0.0) clockwise += 360.0;
  const double quarters = std::round(clockwise / 90.0);
  if (std::fabs(clockwise - quarters * 90.0) > 1.0) return 0;
  return static_cast<int>(quarters) % 4;
}

// The stored picture's width as shown: pixels that are not square (a DVD's 16:9 picture stored
// 720 wide) are widened or narrowed to their display shape, as players show them, the height
// kept. A ratio beyond 1:10 either way, or a width beyond the largest picture taken, is taken
// for a damaged header and leaves the pixels square.
int64_t ShownWidth(AVFormatContext& format, AVStream& stream) {
  const int64_t stored = stream.codecpar->width;
  const AVRational sar = av_guess_sample_aspect_ratio(&format, &stream, nullptr);
  if (sar.num <= 0 || sar.den <= 0 || sar.num == sar.den) return stored;
  if (int64_t{sar.num} > 10 * int64_t{sar.den} || int64_t{sar.den} > 10 * int64_t{sar.num}) {
    return stored;
  }
  const int64_t shown = av_rescale(stored, sar.num, sar.den);
  return shown >= 1 && shown <= kLargestSide ? shown : stored;
}

// Containers whose header gives every stream with its codec and every packet's times and
// length: for them, probing the streams by decoding (avformat_find_stream_info) cannot change
// what later reading yields, and a second probe of the same file finds what the first did.
bool HeaderStatesAll(const AVFormatContext* format) {
  return (format->ctx_flags & AVFMTCTX_NOHEADER) == 0 && format->iformat != nullptr &&
         std::strcmp(format->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0;
}

// Codecs that leave out non-reference pictures when asked to (AVDISCARD_NONREF) and decode
// every other picture exactly as they would have.
bool SkipsNonReference(AVCodecID id) {
  return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC;
}

}  // namespace

// First timestamp of the video stream's packets and the end of its packets and of the sound's,
// in the video stream's time base.
struct FfmpegVideoReader::PacketSpan {
  bool found = false;
  int64_t first = 0;
  int64_t end = 0;
  std::vector<int64_t> lastVideo;  // timestamps of the last video packets, in file order
};

// One open file: demuxer, decoder, the frame currently shown and one look-ahead frame.
// Times are milliseconds from the stream start; a frame covers [start, end).
struct FfmpegVideoReader::Decoder {
  std::string path;
  std::unique_ptr<AVFormatContext, FormatCloser> format;
  std::unique_ptr<AVCodecContext, CodecFreer> codec;
  // The codec parameters as the stream probe at the first opening found them.
  std::shared_ptr<const AVCodecParameters> parameters;
  std::unique_ptr<AVPacket, PacketFreer> packet;
  std::unique_ptr<AVFrame, FrameFreer> current;  // last good frame with start <= the asked time
  std::unique_ptr<AVFrame, FrameFreer> pending;  // next good frame, start > the asked time
  FfmpegFrameConverter converter;  // its tables and scaler kept from picture to picture

  int streamIndex = -1;
  AVRational timeBase{1, 1000};
  int64_t startPts = 0;
  int64_t defaultDuration = 0;  // one frame in time-base units, for frames without duration
  bool canSkip = false;         // the codec can leave out non-reference pictures
  Use use = Use::kPictures;     // set before OpenDecoder
  bool watched = false;         // frame threads, whose pictures that never come are counted
  int64_t seekedTo = -1;        // the time (ms) of its last seek; -1: none since it opened
  // With frame threads: the timestamps of the packets sent that may not be left out whose
  // pictures have not come yet, sorted.
  std::vector<int64_t> awaited;
  // Non-reference pictures ending by this time (ms) may be left out; -1: none may.
  int64_t skipEndingBy = -1;

  bool haveCurrent = false;
  int64_t currentStart = 0;
  int64_t currentEnd = 0;
  int64_t currentPts = 0;
  bool havePending = false;
  int64_t pendingStart = 0;
  int64_t pendingEnd = 0;
  int64_t pendingPts = 0;
  int64_t lastPts = AV_NOPTS_VALUE;  // for frames that come without a timestamp

  bool demuxEnded = false;
  bool drainSent = false;
  int drainErrors = 0;  // errors the decoder reported since it was asked to drain
  bool decoderEnded = false;
  bool abnormalEnd = false;     // the demuxer stopped on an error, not at the end of the file
  bool fromStreamStart = true;  // decoding began at the first packet: nothing lies before it
  // Presentation times of packets and pictures that failed to decode, sorted, unique.
  std::vector<int64_t> failures;
  uint64_t failuresNoted = 0;  // every failure counted, repeats included

  // A picture that starts within 1 ms after t (plus a hundredth for rounded time bases) counts
  // as shown at t: the store asks for truncated times computed in floating point
  // (i x 1000 / fps), which can land a whole millisecond below a frame that starts exactly on it.
  int64_t ToMs(int64_t pts) const {
    const double exact = static_cast<double>(pts - startPts) * timeBase.num * 1000.0 / timeBase.den;
    const double ms = std::ceil(exact - 0.01) - 1.0;
    if (!(ms > 0.0)) return 0;
    return ms > 9.0e15 ? static_cast<int64_t>(9.0e15) : static_cast<int64_t>(ms);
  }
  int64_t ToPts(int64_t ms) const {
    return startPts + av_rescale_q(ms, AVRational{1, 1000}, timeBase);
  }

  void AddFailure(int64_t ms) {
    ++failuresNoted;
    const auto it = std::lower_bound(failures.begin(), failures.end(), ms);
    if (it == failures.end() || *it != ms) failures.insert(it, ms);
  }
  bool FailureIn(int64_t afterMs, int64_t upToMs) const {
    const auto it = std::upper_bound(failures.begin(), failures.end(), afterMs);
    return it != failures.end() && *it <= upToMs;
  }

  void ResetPosition(bool atStart) {
    av_frame_unref(current.get());
    av_frame_unref(pending.get());
    haveCurrent = false;
    havePending = false;
    lastPts = AV_NOPTS_VALUE;
    demuxEnded = false;
    drainSent = false;
    drainErrors = 0;
    decoderEnded = false;
    abnormalEnd = false;
    fromStreamStart = atStart;
    awaited.clear();
  }
};

FfmpegVideoReader::FfmpegVideoReader() {
  SilenceLibraryLog();
}

FfmpegVideoReader::~FfmpegVideoReader() {
  Close();
}

int32_t FfmpegVideoReader::TimeToSample(uint32_t ms) const {
  if (durationMs == 0) return 0;
  return static_cast<int32_t>(static_cast<double>(ms) / durationMs * frameCount);
}

uint32_t FfmpegVideoReader::SampleToTime(int32_t sample) const {
  if (frameCount == 0) return 0;
  return static_cast<uint32_t>(static_cast<double>(sample) / frameCount * durationMs);
}

void FfmpegVideoReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

void FfmpegVideoReader::CloseLocked() {
  decoder_.reset();
  frameCount = 0;
  durationMs = 0;
  fps = 0.0;
  msPerSample = 0;
  width = 0;
  height = 0;
  quarterTurns_ = 0;
}

FfmpegVideoReader::Stats FfmpegVideoReader::GetStats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void FfmpegVideoReader::SetReadabilityShortcut(bool on) {
  std::lock_guard lock(mutex_);
  readabilityShortcut_ = on;
}

void FfmpegVideoReader::SetPictureThreads(int threads) {
  std::lock_guard lock(mutex_);
  pictureThreads_ = std::max(threads, 0);
}

bool FfmpegVideoReader::OpenDecoder(Decoder& d, const Decoder* previous) {
  AVFormatContext* rawFormat = nullptr;
  if (const int rc = avformat_open_input(&rawFormat, d.path.c_str(), nullptr, nullptr); rc < 0) {
    openFailure = "FFmpeg could not read the file as a movie (" + ErrorText(rc) +
                  "): its format is unknown, or the file is damaged or incomplete";
    return false;
  }
  d.format.reset(rawFormat);
  // The probe decodes pictures: a file reopened whose header states everything takes what the
  // first probe found.
  const bool reuse = previous != nullptr && HeaderStatesAll(d.format.get());
  if (!reuse && avformat_find_stream_info(d.format.get(), nullptr) < 0) {
    openFailure =
        "FFmpeg could not make out the streams of the file: it may be damaged or "
        "incomplete";
    return false;
  }

  d.streamIndex = FirstMovieStream(*d.format, AVMEDIA_TYPE_VIDEO);
  for (unsigned i = 0; i < d.format->nb_streams; ++i) {
    if (static_cast<int>(i) != d.streamIndex) d.format->streams[i]->discard = AVDISCARD_ALL;
  }
  if (d.streamIndex < 0) {
    openFailure = kNoVideoStream;
    return false;
  }
  AVStream* stream = d.format->streams[d.streamIndex];

  const AVCodecID codecId = stream->codecpar->codec_id;
  // The first try with frame threads only where one thread is a separate decoder to fall back
  // on, and for the codecs whose clean passes were checked against one thread's.
  if (d.use == Use::kThreadedSearch && (pictureThreads_ == 1 || !SkipsNonReference(codecId))) {
    d.use = Use::kSearch;
  }
  const AVCodec* decoderCodec = avcodec_find_decoder(codecId);
  if (decoderCodec == nullptr) {
    openFailure = std::string("FFmpeg has no decoder for its video codec (") +
                  avcodec_get_name(codecId) + ")";
    return false;
  }
  d.codec.reset(avcodec_alloc_context3(decoderCodec));
  if (!d.codec) return false;
  if (reuse) {
    d.parameters = previous->parameters;
  } else {
    std::unique_ptr<AVCodecParameters, ParametersFreer> copy(avcodec_parameters_alloc());
    if (!copy || avcodec_parameters_copy(copy.get(), stream->codecpar) < 0) return false;
    d.parameters = std::move(copy);
  }
  if (avcodec_parameters_to_context(d.codec.get(), d.parameters.get()) < 0) return false;
  d.codec->pkt_timebase = stream->time_base;
  // With frame threads a decoder's errors surface when a thread hands them over, which varies
  // run by run and with the number of threads: readability, which decides the movie's length,
  // is asked of a decoder with one, whose errors come with their own packets every time (a
  // decoder with frame threads is asked first only where it meets no error at all).
  // Pictures keep frame threads only while they meet no trouble.
  const bool oneThread = d.use == Use::kSearch || (d.use == Use::kPictures && picturesOneThread_);
  d.codec->thread_count = oneThread ? 1 : pictureThreads_;
  d.watched = !oneThread && pictureThreads_ != 1;
  if (avcodec_open2(d.codec.get(), decoderCodec, nullptr) < 0) {
    openFailure = std::string("FFmpeg could not set up the decoder of its video codec (") +
                  avcodec_get_name(codecId) + "): the stream may be damaged";
    return false;
  }

  d.packet.reset(av_packet_alloc());
  d.current.reset(av_frame_alloc());
  d.pending.reset(av_frame_alloc());
  if (!d.packet || !d.current || !d.pending) return false;
  d.timeBase = stream->time_base;
  if (d.timeBase.num <= 0 || d.timeBase.den <= 0) return false;
  const int64_t origin = MovieOriginPts(*d.format, d.streamIndex);
  d.startPts = origin != AV_NOPTS_VALUE ? origin : 0;
  d.canSkip = SkipsNonReference(codecId);
  d.ResetPosition(true);
  return true;
}

FfmpegVideoReader::PacketSpan FfmpegVideoReader::ScanPackets(const Decoder& d, int64_t fromPts) {
  PacketSpan span;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, d.path.c_str(), nullptr, nullptr) < 0) return span;
  const std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
  // Only packet times, stream kinds and time bases are read here.
  if (!HeaderStatesAll(raw) && avformat_find_stream_info(raw, nullptr) < 0) return span;
  if (d.streamIndex >= static_cast<int>(raw->nb_streams)) return span;
  // The sound counts towards the end too: a movie whose sound outlasts its pictures keeps its
  // last picture up to the end of the sound, as before.
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    if (static_cast<int>(i) != d.streamIndex &&
        raw->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
      raw->streams[i]->discard = AVDISCARD_ALL;
    }
  }
  const bool fromStart = fromPts == AV_NOPTS_VALUE;
  if (!fromStart && av_seek_frame(raw, d.streamIndex, fromPts, AVSEEK_FLAG_BACKWARD) < 0) {
    return span;
  }
  const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  if (!packet) return span;
  // Packets without a timestamp follow the one before; from the start, the first is at 0.
  int64_t next = fromStart ? 0 : AV_NOPTS_VALUE;
  int64_t soundEnd = AV_NOPTS_VALUE;
  while (av_read_frame(raw, packet.get()) >= 0) {
    const int index = packet->stream_index;
    if (index != d.streamIndex && index >= 0 && index < static_cast<int>(raw->nb_streams) &&
        packet->pts != AV_NOPTS_VALUE) {
      const int64_t end = av_rescale_q(packet->pts + std::max<int64_t>(packet->duration, 0),
                                       raw->streams[index]->time_base, d.timeBase);
      if (soundEnd == AV_NOPTS_VALUE || end > soundEnd) soundEnd = end;
    }
    if (index == d.streamIndex) {
      int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (ts == AV_NOPTS_VALUE) ts = next;
      if (ts != AV_NOPTS_VALUE) {
        const int64_t length = packet->duration > 0 ? packet->duration : d.defaultDuration;
        if (!span.found || ts < span.first) span.first = ts;
        if (!span.found || ts + length > span.end) span.end = ts + length;
        span.found = true;
        next = ts + length;
        if (span.lastVideo.size() == kLastPacketsKept) span.lastVideo.erase(span.lastVideo.begin());
        span.lastVideo.push_back(ts);
      }
    }
    av_packet_unref(packet.get());
  }
  if (span.found && soundEnd != AV_NOPTS_VALUE && soundEnd > span.end) span.end = soundEnd;
  return span;
}

bool FfmpegVideoReader::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  try {
    return OpenLocked(path);
  } catch (const std::bad_alloc&) {
    CloseLocked();
    return false;
  }
}

bool FfmpegVideoReader::OpenLocked(const std::string& path) {
  CloseLocked();
  stats_ = Stats{};

  openFailure.clear();
  auto d = std::make_unique<Decoder>();
  d->path = path;
  // For the readable-end search.
  d->use = readabilityShortcut_ ? Use::kThreadedSearch : Use::kSearch;
  threadedAnswers_.clear();
  picturesOneThread_ = false;
  if (!OpenDecoder(*d)) return false;
  AVStream* stream = d->format->streams[d->streamIndex];

  // A failed open leaves no figure of this file behind.
  auto fail = [this](std::string why) {
    CloseLocked();
    openFailure = std::move(why);
    return false;
  };
  const AVCodecParameters* par = stream->codecpar;
  if (par->width <= 0 || par->height <= 0 || par->width > kLargestSide ||
      par->height > kLargestSide) {
    return fail("its picture size (" + std::to_string(par->width) + " x " +
                std::to_string(par->height) + ") is not one this program takes (at most 16384 " +
                "x 16384)");
  }
  // Shown as the file asks (a phone's upright video is stored on its side), as FFmpeg's own
  // tools do by default.
  quarterTurns_ = QuarterTurnsOf(stream);
  const int64_t storedWidth = ShownWidth(*d->format, *stream);
  width = static_cast<uint32_t>(quarterTurns_ % 2 == 0 ? storedWidth : par->height);
  height = static_cast<uint32_t>(quarterTurns_ % 2 == 0 ? par->height : storedWidth);

  // Average rate, else the base rate, else a conventional default.
  double rate = 0.0;
  if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
    rate = av_q2d(stream->avg_frame_rate);
  } else if (stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0) {
    rate = av_q2d(stream->r_frame_rate);
  } else {
    rate = kDefaultFps;
  }
  // Above 1000 frames per second a sample would last 0 whole milliseconds.
  if (!(rate > 0.0) || !std::isfinite(rate) || static_cast<uint32_t>(1000.0 / rate) == 0) {
    return fail("its frame rate is above 1000 frames per second");
  }
  fps = rate;
  msPerSample = static_cast<uint32_t>(1000.0 / fps);
  d->defaultDuration =
      std::max<int64_t>(1, av_rescale_q(1, av_inv_q(av_d2q(fps, 1 << 20)), d->timeBase));

  // Duration from the stream start: the stream's own, else the container's, else the frame
  // count, else one frame (a still picture).
  int64_t duration = 0;
  bool containerLength = false;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    // Counted from the movie's origin, which lies before the stream's start when the sound
    // begins first.
    const int64_t lead =
        stream->start_time != AV_NOPTS_VALUE ? stream->start_time - d->startPts : 0;
    duration = av_rescale_q(stream->duration + lead, d->timeBase, AVRational{1, 1000});
  } else if (d->format->duration != AV_NOPTS_VALUE && d->format->duration > 0) {
    int64_t containerStart = d->format->start_time != AV_NOPTS_VALUE ? d->format->start_time : 0;
    int64_t streamStart = av_rescale_q(d->startPts, d->timeBase, AV_TIME_BASE_Q);
    duration = (d->format->duration - (streamStart - containerStart)) / 1000;
    containerLength = true;
  } else if (stream->nb_frames > 0) {
    duration = static_cast<int64_t>(static_cast<double>(stream->nb_frames) * 1000.0 / fps);
  }
  // What the container says is checked against the packets' own timestamps (read without
  // decoding): raw streams state no length at all, and some files state their last timestamp
  // where the length belongs, which for a stream starting late is hours too long.
  const bool knownStart = stream->start_time != AV_NOPTS_VALUE;
  const bool stated = duration > 0;
  const PacketSpan span =
      ScanPackets(*d, stated && knownStart ? d->ToPts(std::max<int64_t>(0, duration - kScanBackMs))
                                           : AV_NOPTS_VALUE);
  skipBeforeMs_ = -1;
  if (span.found) {
    if (!knownStart) d->startPts = span.first;
    const int64_t packetsMs =
        av_rescale_q(span.end - d->startPts, d->timeBase, AVRational{1, 1000});
    // A container's length may also fall a little short of the pictures it holds: Matroska
    // states its length from 0 while the muxer moves the pictures later than Opus or AAC
    // sound that starts before 0, and the last frame would be lost.
    if (packetsMs > 0 && (!stated || !knownStart || duration > packetsMs + kStatedSlackMs ||
                          (containerLength && packetsMs > duration))) {
      duration = packetsMs;
    }
    // The last packets are always decoded: a damaged picture among them that was left out
    // would report nothing where decoding every picture reports an error at the end of the
    // file (the one-thread decoder's last three; a decoder with frame threads leaves out the
    // same pictures, so that its clean answers are that one's).
    const std::size_t guarded = std::min<std::size_t>(span.lastVideo.size(), 3);
    if (guarded < span.lastVideo.size()) {
      skipBeforeMs_ =
          d->ToMs(*std::min_element(span.lastVideo.end() - guarded, span.lastVideo.end()));
    }
  }
  if (duration <= 0) duration = static_cast<int64_t>(1000.0 / fps);
  if (duration > UINT32_MAX - 1) duration = UINT32_MAX - 1;
  durationMs = static_cast<uint32_t>(duration);
  frameCount = static_cast<uint32_t>(std::floor(durationMs * 0.001 * fps));
  // No picture this decoder makes is shown (it is replaced once the length is known), and the
  // deblocking filter changes pixels, never whether a picture decodes.
  if (readabilityShortcut_) d->codec->skip_loop_filter = AVDISCARD_ALL;
  decoder_ = std::move(d);

  const uint32_t end = FindReadableEnd(durationMs);
  if (end == 0) {
    return fail(
        "no picture of its video could be decoded: the file may be damaged or "
        "incomplete");
  }
  if (end != durationMs) {
    durationMs = end;
    frameCount = static_cast<uint32_t>(std::floor(end * 0.001 * fps));
  }
  // The search left the decoder near the end; the first request is usually frame 0. Pictures
  // are decoded with frame threads.
  threadedAnswers_.clear();
  if (!Reopen(Use::kPictures)) {
    return fail("the file could not be read again after its length was found");
  }
  troubleAtPictures_ = TroubleSoFar();
  pictureHistory_ = PictureHistory{};
  stats_ = Stats{};
  return true;
}

bool FfmpegVideoReader::Reopen(Use use) {
  // Seeking "to the start" is not exact in every container (program streams land after it), so
  // the one position known for certain is that of a freshly opened file.
  ++stats_.seeks;
  auto fresh = std::make_unique<Decoder>();
  fresh->path = decoder_->path;
  fresh->use = use;
  if (!OpenDecoder(*fresh, decoder_.get())) return false;
  fresh->defaultDuration = decoder_->defaultDuration;
  fresh->startPts = decoder_->startPts;  // may come from the packets, not the stream
  fresh->failures = std::move(decoder_->failures);
  fresh->failuresNoted = decoder_->failuresNoted;
  decoder_ = std::move(fresh);
  return true;
}

bool FfmpegVideoReader::SeekTo(int64_t ms) {
  Decoder& d = *decoder_;
  ++stats_.seeks;
  if (av_seek_frame(d.format.get(), d.streamIndex, d.ToPts(std::max<int64_t>(ms, 0)),
                    AVSEEK_FLAG_BACKWARD) < 0) {
    return Reopen(d.use);
  }
  avcodec_flush_buffers(d.codec.get());
  d.ResetPosition(false);
  d.seekedTo = ms;
  return true;
}

bool FfmpegVideoReader::DecodeNext() {
  Decoder& d = *decoder_;
  AVFrame* frame = d.pending.get();
  for (;;) {
    if (d.decoderEnded) return false;
    const int received = avcodec_receive_frame(d.codec.get(), frame);
    if (received == 0) {
      ++stats_.framesDecoded;
      if (d.watched) Arrived(d, frame->pts);
      int64_t pts = frame->best_effort_timestamp;
      if (pts == AV_NOPTS_VALUE) {
        pts = d.lastPts == AV_NOPTS_VALUE ? d.startPts : d.lastPts + d.defaultDuration;
      }
      d.lastPts = pts;
      const int64_t length = frame->pkt_duration > 0 ? frame->pkt_duration : d.defaultDuration;
      if ((frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame->decode_error_flags != 0) {
        d.AddFailure(d.ToMs(pts));
        av_frame_unref(frame);
        continue;
      }
      d.pendingPts = pts;
      d.pendingStart = d.ToMs(pts);
      d.pendingEnd = d.ToMs(pts + length);
      d.havePending = true;
      return true;
    }
    if (received == AVERROR_EOF) {
      // Drained: every picture that had to come has come.
      if (d.watched && !d.awaited.empty()) ++hitches_;
      d.decoderEnded = true;
      return false;
    }
    if (received != AVERROR(EAGAIN)) {
      // An error surfacing from a threaded decoder: the picture after the last one is lost.
      d.AddFailure(d.lastPts == AV_NOPTS_VALUE ? 0 : d.ToMs(d.lastPts + d.defaultDuration));
      // While draining, the other frame threads still hold intact pictures: asking again
      // hands them over. The bound is for a decoder that never stops failing.
      if (d.demuxEnded && d.drainSent && ++d.drainErrors > kDrainErrorsMax) {
        d.decoderEnded = true;
        return false;
      }
      continue;
    }
    if (d.demuxEnded) {
      if (d.drainSent) {
        d.decoderEnded = true;
        return false;
      }
      d.drainSent = true;
      avcodec_send_packet(d.codec.get(), nullptr);
      continue;
    }
    const int read = av_read_frame(d.format.get(), d.packet.get());
    if (read < 0) {
      d.demuxEnded = true;
      if (read != AVERROR_EOF) {
        d.abnormalEnd = true;
        ++abnormalEnds_;
      }
      continue;
    }
    if (d.packet->stream_index == d.streamIndex) {
      const int64_t packetPts = d.packet->pts != AV_NOPTS_VALUE ? d.packet->pts : d.packet->dts;
      if ((d.packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
        damagedPacketSeen_ = true;
        ++damagedPackets_;
      }
      if (d.canSkip) ChooseSkip(d);
      const int sent = avcodec_send_packet(d.codec.get(), d.packet.get());
      if (d.watched) {
        if (sent == 0 && d.codec->skip_frame != AVDISCARD_NONREF && packetPts != AV_NOPTS_VALUE) {
          d.awaited.insert(std::upper_bound(d.awaited.begin(), d.awaited.end(), packetPts),
                           packetPts);
        } else if (sent == AVERROR(EAGAIN) || packetPts == AV_NOPTS_VALUE) {
          ++hitches_;  // a packet the decoder did not take, or one whose picture cannot be told
        }
      }
      if (sent < 0 && sent != AVERROR(EAGAIN)) {
        d.AddFailure(packetPts != AV_NOPTS_VALUE   ? d.ToMs(packetPts)
                     : d.lastPts == AV_NOPTS_VALUE ? 0
                                                   : d.ToMs(d.lastPts + d.defaultDuration));
      }
    }
    av_packet_unref(d.packet.get());
  }
}

void FfmpegVideoReader::Arrived(Decoder& d, int64_t pts) {
  // Pictures come in presentation order: one that was due before this one and has not come
  // never will (a decoder drops a picture it finds out of order without a word).
  if (pts == AV_NOPTS_VALUE) {
    ++hitches_;
    return;
  }
  const auto it = std::lower_bound(d.awaited.begin(), d.awaited.end(), pts);
  if (it != d.awaited.end() && *it == pts) d.awaited.erase(it);
  if (!d.awaited.empty() && d.awaited.front() < pts) ++hitches_;
}

void FfmpegVideoReader::ChooseSkip(Decoder& d) {
  // A non-reference picture that has ended by the asked time cannot be the picture at it (the
  // one after it starts by then), and no picture is decoded from it. The packet is decoded as
  // it is sent (frame threads take the setting along with the packet they are handed), so the
  // setting holds packet by packet.
  const AVPacket& p = *d.packet;
  const bool skip = d.skipEndingBy >= 0 && p.pts != AV_NOPTS_VALUE && p.duration > 0 &&
                    p.pts <= INT64_MAX - p.duration &&
                    d.ToMs(p.pts + p.duration) <= d.skipEndingBy && d.ToMs(p.pts) < skipBeforeMs_;
  d.codec->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
  if (skip) {
    ++stats_.skippable;
    skippableStart_ = std::max(skippableStart_, d.ToMs(p.pts));
  }
}

void FfmpegVideoReader::TakePending(Decoder& d) {
  av_frame_unref(d.current.get());
  av_frame_move_ref(d.current.get(), d.pending.get());
  d.haveCurrent = true;
  d.havePending = false;
  d.currentStart = d.pendingStart;
  d.currentEnd = d.pendingEnd;
  d.currentPts = d.pendingPts;
}

FfmpegVideoReader::Position FfmpegVideoReader::PositionAt(uint32_t ms, bool picturesMatter) {
  if (!decoder_ || ms >= durationMs) return Position::kNone;
  const int64_t t = ms;
  {
    Decoder& d = *decoder_;
    bool seek = false;
    if (d.haveCurrent && t < d.currentStart) {
      seek = true;  // backward
    } else if (!d.haveCurrent && d.havePending && t < d.pendingStart) {
      if (d.fromStreamStart) return Position::kNone;  // before the first picture
      seek = true;
    } else if (!d.haveCurrent && !d.havePending && t > kSeekAheadMs) {
      // Nothing decoded since the file was opened or repositioned: a far time (the readable
      // end, a selection late in the movie) is reached from the keyframe before it, not by
      // decoding everything in front of it.
      seek = true;
    } else if (d.haveCurrent && t > d.currentStart + kSeekAheadMs &&
               (!d.havePending || t >= d.pendingStart)) {
      // Far ahead: worth it only when a keyframe lies between here and there.
      AVStream* stream = d.format->streams[d.streamIndex];
      if (avformat_index_get_entries_count(stream) > 0) {
        const AVIndexEntry* entry =
            avformat_index_get_entry_from_timestamp(stream, d.ToPts(t), AVSEEK_FLAG_BACKWARD);
        seek = entry != nullptr && entry->timestamp > d.currentPts;
      } else {
        seek = true;
      }
    }
    if (seek && !SeekTo(t)) return Position::kNone;
  }
  return DecodeTo(t, picturesMatter);
}

FfmpegVideoReader::Position FfmpegVideoReader::DecodeTo(int64_t t, bool picturesMatter) {
  for (int attempt = 0;; ++attempt) {
    Decoder& d = *decoder_;
    d.skipEndingBy = picturesMatter ? -1 : t;
    for (;;) {
      if (!d.havePending && !DecodeNext()) break;
      if (d.pendingStart > t) break;
      TakePending(d);
    }
    if (d.haveCurrent) break;
    if (d.fromStreamStart) {
      // t lies before the first picture that decoded (the first ones were damaged, or the
      // stream's pictures begin late): that picture stands in from the stream start.
      if (!d.havePending) return Position::kNone;
      TakePending(d);
      d.currentStart = 0;
      break;
    }
    // The landing point lay after t (or decoded nothing): go further back, in the end to a
    // freshly opened file.
    int64_t back = kSeekRetryMs;
    for (int i = 0; i < attempt; ++i) back *= 4;
    const bool ok = attempt >= kSeekRetries || t - back <= 0 ? Reopen(d.use) : SeekTo(t - back);
    if (!ok) return Position::kNone;
  }

  const Decoder& d = *decoder_;
  // The current picture stands at t unless something that failed to decode lies between it
  // and t, or the file broke off after it before t.
  if (d.FailureIn(d.currentStart, t)) return Position::kDamaged;
  if (t >= d.currentEnd && !d.havePending && d.abnormalEnd) return Position::kDamaged;
  return Position::kReadable;
}

std::unique_ptr<FrameImage> FfmpegVideoReader::FrameAtTime(uint32_t ms) {
  std::lock_guard lock(mutex_);
  try {
    if (!decoder_ || ms >= durationMs) return nullptr;
    const bool watched = decoder_->use == Use::kPictures && decoder_->watched;
    const uint64_t seeksBefore = stats_.seeks;
    // A damaged stretch still shows the last good picture, as a player would; only the
    // readable-end search and IsReadableAt tell the two apart.
    Position position = PositionAt(ms, true);
    if (watched) {
      if (TroubleSoFar() == troubleAtPictures_) {
        NoteCleanRequest(ms, stats_.seeks != seeksBefore);
      } else {
        // The picture at hand may already be one that frame threads made otherwise.
        if (!PicturesToOneThread()) return nullptr;
        position = PositionAt(ms, true);
      }
    }
    if (position == Position::kNone) return nullptr;
    return decoder_->converter.Convert(*decoder_->current, width, height, quarterTurns_);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<FrameImage> FfmpegVideoReader::FrameAtSample(int32_t sample) {
  if (sample < 0) return nullptr;
  return FrameAtTime(SampleToTime(sample));
}

bool FfmpegVideoReader::IsReadableAt(uint32_t ms) {
  std::lock_guard lock(mutex_);
  try {
    return ReadableAt(ms);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FfmpegVideoReader::ReadableAt(uint32_t ms) {
  if (!decoder_) return false;
  // After Open the decoder is the pictures' own, with frame threads: a question then gets a
  // decoder of its own kind, which goes on serving the pictures asked for after it (they are
  // the same whatever the thread count).
  if (decoder_->use == Use::kPictures && !Reopen(Use::kSearch)) return false;
  if (decoder_->use == Use::kThreadedSearch) {
    bool readable = false;
    if (readabilityShortcut_ && SkippingAnswer(ms, true, readable)) {
      threadedAnswers_.push_back(ms);
      return readable;
    }
    if (!ToOneThread()) return false;
  }
  return OneThreadAnswer(ms);
}

bool FfmpegVideoReader::SkippingAnswer(uint32_t ms, bool frameThreads, bool& readable) {
  skippableStart_ = -1;
  damagedPacketSeen_ = false;
  const uint64_t failuresBefore = decoder_->failuresNoted;
  const uint64_t hitchesBefore = hitches_;
  const uint64_t complaintsBefore = libraryComplaints.load(std::memory_order_relaxed);
  std::vector<int64_t> knownFailures = decoder_->failures;
  const Position position = PositionAt(ms, false);
  const Decoder& d = *decoder_;
  // With everything left out lying before the picture found, that picture is the one decoding
  // every picture finds: the pictures left out could only have been found in its place, and
  // their failures would lie before it, where they do not count. That holds for a file read
  // without trouble. On damage the decoder's errors (some placed by guess after the last
  // picture out) move with the pictures left out: so a pass that met a failure, a packet the
  // demuxer found damaged or a demuxer error, or that found its picture before something left
  // out (a damaged tail, a time past the last picture), is asked again with nothing left out.
  const bool clean = d.failuresNoted == failuresBefore && !damagedPacketSeen_ && !d.abnormalEnd;
  const bool foundAfterLeftOut = d.haveCurrent && d.currentStart >= skippableStart_;
  bool stands = skippableStart_ < 0 || (clean && foundAfterLeftOut);
  if (frameThreads) {
    // Frame threads decode a stream without trouble exactly as one thread does; trouble of any
    // kind (also a picture that did not come or a word from the library) is where they part,
    // so such a pass says nothing, even with nothing left out.
    stands = stands && clean && hitches_ == hitchesBefore &&
             libraryComplaints.load(std::memory_order_relaxed) == complaintsBefore;
  }
  if (stands) {
    readable = position == Position::kReadable;
    return true;
  }
  // What this pass placed by guess must not outlive it: the pass asked again places it.
  decoder_->failures = std::move(knownFailures);
  return false;
}

bool FfmpegVideoReader::ToOneThread() {
  // Where one thread stands after a question depends on the questions before (how far it
  // decoded, the failures it found): it is asked them again, and answers them as frame threads
  // did. The first decoder of the search skips the deblocking, so does the one replacing it.
  const int loopFilter = decoder_->codec->skip_loop_filter;
  const std::vector<uint32_t> asked = std::move(threadedAnswers_);
  threadedAnswers_.clear();
  if (!Reopen(Use::kSearch)) return false;
  decoder_->codec->skip_loop_filter = static_cast<AVDiscard>(loopFilter);
  for (const uint32_t t : asked) OneThreadAnswer(t);
  return true;
}

bool FfmpegVideoReader::OneThreadAnswer(uint32_t ms) {
  if (!readabilityShortcut_) return PositionAt(ms, true) == Position::kReadable;
  bool readable = false;
  if (SkippingAnswer(ms, false, readable)) return readable;
  if (!Reopen(Use::kSearch)) return false;
  return PositionAt(ms, true) == Position::kReadable;
}

uint64_t FfmpegVideoReader::TroubleSoFar() const {
  return (decoder_ ? decoder_->failuresNoted : 0) + hitches_ + damagedPackets_ + abnormalEnds_ +
         libraryComplaints.load(std::memory_order_relaxed);
}

void FfmpegVideoReader::NoteCleanRequest(uint32_t ms, bool repositioned) {
  PictureHistory& h = pictureHistory_;
  if (repositioned) {
    h.seekedTo = decoder_->seekedTo;
    h.firstMs = ms;
    h.latestMs = ms;
  } else if (h.firstMs < 0) {
    h.firstMs = ms;
    h.latestMs = ms;
  } else {
    // Without a repositioning the decoder only went forward: to the latest time asked.
    h.latestMs = std::max<int64_t>(h.latestMs, ms);
  }
}

bool FfmpegVideoReader::PicturesToOneThread() {
  const PictureHistory h = pictureHistory_;
  picturesOneThread_ = true;
  ++stats_.oneThreadSwitches;
  // Decoded forward from the same repositioning, one thread stands where it would have after
  // the same requests: up to the trouble, frame threads decided every seek from the pictures
  // one thread makes.
  if (!Reopen(Use::kPictures)) return false;
  if (h.seekedTo >= 0 && !SeekTo(h.seekedTo)) return false;
  if (h.firstMs >= 0) {
    DecodeTo(h.firstMs, true);
    if (h.latestMs > h.firstMs) DecodeTo(h.latestMs, true);
  }
  return true;
}

}  // namespace quillon
