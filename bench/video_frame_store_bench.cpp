// Frames per second of three ways through one 640 x 360, 30 fps, 20 s h264 clip:
//   a) FFmpeg alone: decode and convert to RGB24 (the floor any reader stands on);
//   b) FrameStore::GetFrame over every output frame at default settings;
//   c) the same with span filters (both directions) and two smoothing passes.
// Usage: video_frame_store_bench [clip [a|b|c]]
//   Without a clip one is made in the working folder; a letter runs that way once (profiling).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "settings/encoder_settings.h"
#include "video/frame_store.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of the whole process (all decoder threads), user and system.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Timing {
  double wall = 0;
  double cpu = 0;
  double openWall = 0;  // FrameStore ways: Open, Configure and SelectRange, not in wall
};

// The floor: the same decoder settings and conversion the reader uses, nothing else.
long DecodeWithFfmpegAlone(const std::string& path, Timing& timing) {
  const auto start = Clock::now();
  const double cpuStart = CpuSeconds();
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return -1;
  avformat_find_stream_info(format, nullptr);
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return -1;
  AVStream* stream = format->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(context, stream->codecpar);
  context->thread_count = 0;
  avcodec_open2(context, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwsContext* scaler = nullptr;
  const int w = stream->codecpar->width;
  const int h = stream->codecpar->height;
  const int stride = (w * 3 + 3) & ~3;
  std::vector<uint8_t> rgb(static_cast<size_t>(stride) * h + 64);
  long frames = 0;
  auto drain = [&] {
    while (avcodec_receive_frame(context, frame) == 0) {
      scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                    static_cast<AVPixelFormat>(frame->format), w, h,
                                    AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr,
                                    nullptr, nullptr);
      uint8_t* dst[4] = {rgb.data(), nullptr, nullptr, nullptr};
      int dstStride[4] = {stride, 0, 0, 0};
      sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
      ++frames;
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index) {
      avcodec_send_packet(context, packet);
      drain();
    }
    av_packet_unref(packet);
  }
  avcodec_send_packet(context, nullptr);
  drain();
  sws_freeContext(scaler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
  avformat_close_input(&format);
  timing.wall = Seconds(start);
  timing.cpu = CpuSeconds() - cpuStart;
  return frames;
}

long ReadThroughFrameStore(const std::string& path, const quillon::FrameOptions& options,
                           Timing& timing) {
  const auto openStart = Clock::now();
  quillon::FrameStore store;
  if (!store.Open(path) || !store.Configure(options) || !store.SelectRange(0, 0xFFFFFFFFu)) {
    std::fprintf(stderr, "FrameStore: %s\n", store.lastError.c_str());
    return -1;
  }
  timing.openWall = Seconds(openStart);
  const auto start = Clock::now();
  const double cpuStart = CpuSeconds();
  long frames = 0;
  for (uint32_t i = 0; i < store.RangeFrameCount(); ++i) {
    if (store.GetFrame(i) == nullptr) {
      std::fprintf(stderr, "frame %u did not decode\n", i);
      return -1;
    }
    ++frames;
  }
  timing.wall = Seconds(start);
  timing.cpu = CpuSeconds() - cpuStart;
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_QUIET);
  std::string clip = argc > 1 ? argv[1] : "video_bench_640x360_30fps_20s.mp4";
  if (argc <= 1) {
    const std::string make =
        "test -s " + clip + " || ffmpeg -v error -nostdin -y -f lavfi -i "
        "testsrc2=size=640x360:rate=30:duration=20 -c:v libx264 -pix_fmt yuv420p " + clip;
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "could not make %s\n", clip.c_str());
      return 1;
    }
  }

  quillon::FrameOptions plain;
  quillon::FrameOptions filtered;
  filtered.flags |= quillon::FrameOptions::kUniformSpanHorizontal |
                    quillon::FrameOptions::kUniformSpanVertical;
  filtered.smooth = 100.0f;
  filtered.smoothCycles = 2;

  if (argc > 2) {
    Timing t;
    const char way = argv[2][0];
    const long n = way == 'a'   ? DecodeWithFfmpegAlone(clip, t)
                   : way == 'b' ? ReadThroughFrameStore(clip, plain, t)
                                : ReadThroughFrameStore(clip, filtered, t);
    std::printf("%c) %ld frames, %.3f s (cpu %.3f s, open %.3f s), %.1f frames/s\n", way, n,
                t.wall, t.cpu, t.openWall, n / t.wall);
    return n > 0 ? 0 : 1;
  }

  // Best of five runs each, interleaved, so a busy moment on the machine hits all alike.
  Timing best[3];
  for (Timing& b : best) b.wall = b.cpu = b.openWall = 1e9;
  long counts[3] = {0, 0, 0};
  for (int run = 0; run < 5; ++run) {
    for (int way = 0; way < 3; ++way) {
      Timing t;
      counts[way] = way == 0   ? DecodeWithFfmpegAlone(clip, t)
                    : way == 1 ? ReadThroughFrameStore(clip, plain, t)
                               : ReadThroughFrameStore(clip, filtered, t);
      if (counts[way] <= 0) return 1;
      best[way].wall = std::min(best[way].wall, t.wall);
      best[way].cpu = std::min(best[way].cpu, t.cpu);
      best[way].openWall = std::min(best[way].openWall, t.openWall);
    }
  }
  const char* names[3] = {"a) FFmpeg decode + RGB24", "b) FrameStore, no filters",
                          "c) FrameStore, span + smoothing"};
  for (int i = 0; i < 3; ++i) {
    std::printf("%-32s %4ld frames %7.3f s %7.1f frames/s  cpu %7.3f s", names[i], counts[i],
                best[i].wall, counts[i] / best[i].wall, best[i].cpu);
    if (i > 0) std::printf("  (+ open %.3f s)", best[i].openWall);
    std::printf("\n");
  }
  std::printf("time ratios: b/a = %.2f  c/a = %.2f   cpu ratios: b/a = %.2f  c/a = %.2f\n",
              best[1].wall / best[0].wall, best[2].wall / best[0].wall,
              best[1].cpu / best[0].cpu, best[2].cpu / best[0].cpu);
  return 0;
}
