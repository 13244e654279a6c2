// The time a movie's pictures and its sound both count from.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/avutil.h>
}

struct AVFormatContext;

namespace quillon {

// The stream a movie is read with for `type` (video or audio): the first of that kind, a cover
// picture not counting as video; -1 when there is none. Both readers take theirs from here, so
// that each knows which stream the other reads.
int FirstMovieStream(const AVFormatContext& format, AVMediaType type);

// In the time base of stream `streamIndex`: the earlier start of the two streams a movie is read
// with (the first video stream that is not a cover picture, the first audio stream), so that a
// sound or a picture stream that begins late stays where it is in time instead of being slid to
// the start. The stream's own start where the other stream or either start is unknown, where
// the other leads by less than a tenth of a second, or where it begins so early that it ends
// before this one starts (timestamps that cannot both be right, such as a wrapped clock).
// AV_NOPTS_VALUE when the stream's own start is unknown.
int64_t MovieOriginPts(const AVFormatContext& format, int streamIndex);

}  // namespace quillon
