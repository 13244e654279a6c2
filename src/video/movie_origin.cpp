#include "video/movie_origin.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/common.h>
}

namespace quillon {

namespace {

// A lead shorter than this is taken for codec priming or a muxing offset, not a late start.
constexpr int64_t kLeadIgnoredMs = 100;

}  // namespace

int FirstMovieStream(const AVFormatContext& format, AVMediaType type) {
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVStream* s = format.streams[i];
    if (s->codecpar->codec_type != type) continue;
    if (type == AVMEDIA_TYPE_VIDEO && (s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) continue;
    return static_cast<int>(i);
  }
  return -1;
}

int64_t MovieOriginPts(const AVFormatContext& format, int streamIndex) {
  if (streamIndex < 0 || static_cast<unsigned>(streamIndex) >= format.nb_streams) {
    return AV_NOPTS_VALUE;
  }
  const AVStream* own = format.streams[streamIndex];
  if (own->start_time == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  const AVMediaType type = own->codecpar->codec_type;
  const int otherIndex = type == AVMEDIA_TYPE_VIDEO   ? FirstMovieStream(format, AVMEDIA_TYPE_AUDIO)
                         : type == AVMEDIA_TYPE_AUDIO ? FirstMovieStream(format, AVMEDIA_TYPE_VIDEO)
                                                      : -1;
  if (otherIndex < 0 || otherIndex == streamIndex) return own->start_time;
  const AVStream* other = format.streams[otherIndex];
  if (other->start_time == AV_NOPTS_VALUE || own->time_base.num <= 0 || own->time_base.den <= 0 ||
      other->time_base.num <= 0 || other->time_base.den <= 0) {
    return own->start_time;
  }
  // Rounded down, so that the earlier stream's first sample never lands before the origin.
  const int64_t otherStart =
      av_rescale_q_rnd(other->start_time, other->time_base, own->time_base,
                       static_cast<AVRounding>(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
  if (otherStart >= own->start_time) return own->start_time;

  int64_t otherLength = 0;
  if (other->duration != AV_NOPTS_VALUE && other->duration > 0) {
    otherLength = av_rescale_q(other->duration, other->time_base, own->time_base);
  } else if (format.duration != AV_NOPTS_VALUE && format.duration > 0) {
    otherLength = av_rescale_q(format.duration, AV_TIME_BASE_Q, own->time_base);
  }
  const int64_t lead = av_sat_sub64(own->start_time, otherStart);
  if (lead > otherLength) return own->start_time;
  // Coded sound starts a few milliseconds early for its decoder's priming (Opus, AAC), and
  // muxers offset streams by as much: moving the pictures for that would show each a frame
  // late, which is worse than the offset itself.
  if (lead < av_rescale_q(kLeadIgnoredMs, AVRational{1, 1000}, own->time_base)) {
    return own->start_time;
  }
  return otherStart;
}

}  // namespace quillon
