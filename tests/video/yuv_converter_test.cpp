// The direct Y'CbCr conversion against a double-precision reference, and the reader's pictures
// against the general scaler route they replace.
#include "video/yuv_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "kernel_forms.h"
#include "video/colour.h"
#include "video/ffmpeg_video_reader.h"
#include "video/frame_image.h"

namespace quillon {
namespace {

// FFmpeg's coefficient tables for the two matrices in common use.
constexpr std::array<int32_t, 4> kBt601 = {104597, 132201, 25675, 53279};
constexpr std::array<int32_t, 4> kBt709 = {117489, 138438, 13975, 34925};
// The widest coefficients FFmpeg has (blue beyond 16 bits even in quarter units).
constexpr std::array<int32_t, 4> kBt2020 = {110013, 140363, 12277, 42626};
// No real matrix: every coefficient beyond 16 bits in quarter units at limited range.
constexpr std::array<int32_t, 4> kWide = {140000, 150000, 131100, 131200};

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t shiftX = 0;
  uint32_t shiftY = 0;
  std::array<std::vector<uint8_t>, 3> planes;
  std::array<int32_t, 3> strides{};

  uint32_t ChromaWidth() const { return (width + shiftX) >> shiftX; }
  uint32_t ChromaHeight() const { return (height + shiftY) >> shiftY; }
  uint8_t At(int plane, uint32_t x, uint32_t y) const {
    return planes[static_cast<std::size_t>(plane)]
                 [std::size_t{y} * static_cast<uint32_t>(strides[static_cast<std::size_t>(plane)]) +
                  x];
  }
  YuvConverter::Planes View() const {
    YuvConverter::Planes p;
    for (std::size_t i = 0; i < 3; ++i) {
      p.data[i] = planes[i].data();
      p.stride[i] = strides[i];
    }
    p.width = width;
    p.height = height;
    p.chromaShiftX = shiftX;
    p.chromaShiftY = shiftY;
    return p;
  }
};

// Rows padded beyond their pixels, as decoders lay them out; filled by fill(plane, x, y).
template <typename Fill>
Picture MakePicture(uint32_t w, uint32_t h, uint32_t shiftX, uint32_t shiftY, Fill fill) {
  Picture p;
  p.width = w;
  p.height = h;
  p.shiftX = shiftX;
  p.shiftY = shiftY;
  for (int plane = 0; plane < 3; ++plane) {
    const uint32_t pw = plane == 0 ? w : p.ChromaWidth();
    const uint32_t ph = plane == 0 ? h : p.ChromaHeight();
    const auto i = static_cast<std::size_t>(plane);
    p.strides[i] = static_cast<int32_t>(pw + 13);
    p.planes[i].assign(std::size_t{ph} * (pw + 13), 0xEE);
    for (uint32_t y = 0; y < ph; ++y) {
      for (uint32_t x = 0; x < pw; ++x)
        p.planes[i][std::size_t{y} * (pw + 13) + x] = fill(plane, x, y);
    }
  }
  return p;
}

// The conversion worked out in double precision: chroma upsampled (pairs share a sample across;
// down, odd rows take their chroma row and even rows the mean of it and the one above), R, G, B
// rounded to the nearest byte and clamped, then the engine's own conversion.
std::array<uint8_t, 3> Reference(const Picture& p, uint32_t x, uint32_t y,
                                 const std::array<int32_t, 4>& m, bool fullRange) {
  const uint32_t cx = x >> p.shiftX;
  double cb = p.At(1, cx, y >> p.shiftY);
  double cr = p.At(2, cx, y >> p.shiftY);
  if (p.shiftY == 1 && (y & 1) == 0 && y > 0) {
    cb = (p.At(1, cx, y / 2) + p.At(1, cx, y / 2 - 1)) / 2.0;
    cr = (p.At(2, cx, y / 2) + p.At(2, cx, y / 2 - 1)) / 2.0;
  }
  const double luma = fullRange ? p.At(0, x, y) : (p.At(0, x, y) - 16.0) * 255.0 / 219.0;
  const double scale = (fullRange ? 224.0 / 255.0 : 1.0) / 65536.0;
  const double r = luma + m[0] * scale * (cr - 128.0);
  const double g = luma - m[2] * scale * (cb - 128.0) - m[3] * scale * (cr - 128.0);
  const double b = luma + m[1] * scale * (cb - 128.0);
  auto byte = [](double v) {
    return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
  };
  const uint8_t rgb[3] = {byte(r), byte(g), byte(b)};
  std::array<uint8_t, 3> out{};
  RgbToYCbCr(rgb, out.data());
  return out;
}

struct Shape {
  uint32_t width, height, shiftX, shiftY;
};

TEST(YuvConverterTest, MatchesTheReferenceOnEveryLayoutMatrixAndRange) {
  std::mt19937 random(20261209);
  // Odd sizes leave a last chroma column and row that cover one luma pixel.
  for (const Shape s : {Shape{37, 23, 1, 1}, Shape{40, 16, 1, 1}, Shape{33, 9, 1, 0},
                        Shape{17, 11, 0, 0}, Shape{20, 15, 0, 1}}) {
    for (const bool fullRange : {false, true}) {
      for (const auto& matrix : {kBt601, kBt709}) {
        SCOPED_TRACE(testing::Message()
                     << s.width << "x" << s.height << " shift " << s.shiftX << s.shiftY << " full "
                     << fullRange << " bt709 " << (matrix == kBt709));
        // Every byte value, colours beyond what R, G, B can show included.
        const Picture p = MakePicture(
            s.width, s.height, s.shiftX, s.shiftY,
            [&random](int, uint32_t, uint32_t) { return static_cast<uint8_t>(random() & 0xFF); });
        YuvConverter converter;
        converter.SetMatrix(matrix, fullRange);
        const std::size_t stride = std::size_t{s.width} * 3 + 5;
        std::vector<uint8_t> out(stride * s.height, 0x5A);
        ASSERT_TRUE(converter.Convert(p.View(), out.data(), stride));
        uint32_t off = 0;
        for (uint32_t y = 0; y < s.height; ++y) {
          for (uint32_t x = 0; x < s.width; ++x) {
            const auto expected = Reference(p, x, y, matrix, fullRange);
            for (std::size_t ch = 0; ch < 3; ++ch) {
              const int got = out[y * stride + x * 3 + ch];
              // Coefficients held in 1/65536 may round a value lying on a half the other way.
              ASSERT_LE(std::abs(got - expected[ch]), 1) << x << "," << y << " channel " << ch;
              off += got != expected[ch] ? 1 : 0;
            }
          }
          // Nothing written past the row's pixels.
          for (std::size_t i = std::size_t{s.width} * 3; i < stride; ++i) {
            ASSERT_EQ(out[y * stride + i], 0x5A);
          }
        }
        EXPECT_LE(off, s.width * s.height * 3 / 100);
      }
    }
  }
}

// The one-pass AVX2 and AVX-512 conversions and the two-step route give the same bytes and
// write nothing beyond the row: widths on either side of their eight- and sixteen-pixel steps,
// every layout, range and matrix; bytes from the whole range, bytes at the ends of the range
// (colours far outside what R, G, B can show, clamped on both sides), and flat planes at 0 and
// 255.
TEST(YuvConverterTest, EveryKernelFormGivesTheSameBytes) {
  std::mt19937 random(77);
  constexpr std::array<uint8_t, 7> kEdges = {0, 1, 16, 235, 240, 254, 255};
  std::vector<Picture> pictures;
  std::vector<uint32_t> widths;
  for (uint32_t w = 1; w <= 50; ++w) widths.push_back(w);
  for (const uint32_t w : {63u, 64u, 65u, 95u, 96u, 97u, 641u}) widths.push_back(w);
  uint32_t n = 0;
  for (const uint32_t w : widths) {
    for (uint32_t shift = 0; shift < 4; ++shift, ++n) {
      const uint32_t h = 1 + (n % 4);
      pictures.push_back(MakePicture(
          w, h, shift & 1, shift >> 1,
          [&random](int, uint32_t, uint32_t) { return static_cast<uint8_t>(random() & 0xFF); }));
      pictures.push_back(
          MakePicture(w, h, shift & 1, shift >> 1, [&random, &kEdges](int, uint32_t, uint32_t) {
            return kEdges[random() % kEdges.size()];
          }));
      // One of the eight flat pictures with each plane at 0 or 255, in turn.
      pictures.push_back(
          MakePicture(w, h, shift & 1, shift >> 1, [n](int plane, uint32_t, uint32_t) {
            return static_cast<uint8_t>((n >> plane) & 1 ? 255 : 0);
          }));
    }
  }
  std::vector<std::vector<uint8_t>> outputs;
  bool first = true;
  ForEachKernelForm([&] {
    std::size_t k = 0;
    for (const Picture& p : pictures) {
      for (const bool fullRange : {false, true}) {
        for (const auto& matrix : {kBt601, kBt709, kBt2020, kWide}) {
          YuvConverter converter;
          converter.SetMatrix(matrix, fullRange);
          const std::size_t stride = std::size_t{p.width} * 3 + 7;
          std::vector<uint8_t> out(stride * p.height, 0x5A);
          ASSERT_TRUE(converter.Convert(p.View(), out.data(), stride));
          if (first) {
            outputs.push_back(out);
          } else {
            ASSERT_EQ(out, outputs[k]) << p.width << "x" << p.height << " shift " << p.shiftX
                                       << p.shiftY << " full " << fullRange << " picture " << k;
          }
          ++k;
        }
      }
    }
    first = false;
  });
}

// A picture whose rows end exactly where its memory ends: the wide steps' last, partial step
// must neither read nor write past either.
TEST(YuvConverterTest, RowsEndingAtTheEndOfMemoryConvertAlike) {
  for (const uint32_t w : {1u, 7u, 15u, 17u, 31u, 33u}) {
    std::vector<std::vector<uint8_t>> outputs;
    ForEachKernelForm([&] {
      // Exact-size heap blocks, so a sanitizer build sees any access beyond them.
      std::vector<uint8_t> luma(w, 200), cb(w, 30), cr(w, 220);
      YuvConverter::Planes in;
      in.data = {luma.data(), cb.data(), cr.data()};
      in.stride = {static_cast<int32_t>(w), static_cast<int32_t>(w), static_cast<int32_t>(w)};
      in.width = w;
      in.height = 1;
      YuvConverter converter;
      converter.SetMatrix(kBt601, false);
      std::vector<uint8_t> out(std::size_t{w} * 3);
      ASSERT_TRUE(converter.Convert(in, out.data(), out.size()));
      outputs.push_back(out);
      EXPECT_EQ(outputs.back(), outputs.front()) << w;
    });
  }
}

TEST(YuvConverterTest, KeepsGreysGreyAndClampsBeyondTheLimitedRange) {
  // Luma 0-255 with neutral chroma, one value per pixel.
  const Picture p = MakePicture(256, 2, 1, 1, [](int plane, uint32_t x, uint32_t) {
    return static_cast<uint8_t>(plane == 0 ? x : 128);
  });
  for (const bool fullRange : {false, true}) {
    YuvConverter converter;
    converter.SetMatrix(kBt709, fullRange);
    std::vector<uint8_t> out(256 * 3 * 2);
    ASSERT_TRUE(converter.Convert(p.View(), out.data(), 256 * 3));
    for (uint32_t v = 0; v < 256; ++v) {
      const double exact = fullRange ? v : (v - 16.0) * 255.0 / 219.0;
      const auto grey = static_cast<int>(std::clamp(std::floor(exact + 0.5), 0.0, 255.0));
      EXPECT_EQ(out[v * 3], grey) << v;
      EXPECT_EQ(out[v * 3 + 1], 128) << v;
      EXPECT_EQ(out[v * 3 + 2], 128) << v;
    }
  }
}

TEST(YuvConverterTest, RefusesWhatItCannotConvert) {
  const Picture p = MakePicture(8, 8, 1, 1, [](int, uint32_t, uint32_t) { return uint8_t{100}; });
  std::vector<uint8_t> out(8 * 8 * 3);
  YuvConverter unset;
  EXPECT_FALSE(unset.Convert(p.View(), out.data(), 24));  // no matrix yet
  YuvConverter converter;
  converter.SetMatrix(kBt601, false);
  YuvConverter::Planes quarter = p.View();
  quarter.chromaShiftX = 2;
  EXPECT_FALSE(converter.Convert(quarter, out.data(), 24));
  YuvConverter::Planes missing = p.View();
  missing.data[2] = nullptr;
  EXPECT_FALSE(converter.Convert(missing, out.data(), 24));
  EXPECT_TRUE(converter.Convert(p.View(), out.data(), 24));
}

// ---- The reader against the scaler route ---------------------------------------------------

std::string Clip(const std::string& name) {
  return std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/" + name;
}

// FFmpeg's freeing functions that take the address of the pointer.
template <typename T, void (*Free)(T**)>
struct Freer {
  void operator()(T* p) const { Free(&p); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, Freer<AVFormatContext, avformat_close_input>>;
using CodecPtr = std::unique_ptr<AVCodecContext, Freer<AVCodecContext, avcodec_free_context>>;
using FramePtr = std::unique_ptr<AVFrame, Freer<AVFrame, av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, Freer<AVPacket, av_packet_free>>;

struct Decoded {
  std::unique_ptr<FrameImage> image;  // through the scaler to R, G, B, then the engine's colours
  std::string format;                 // the decoder's pixel format
};

// The first picture of a clip the way every picture was read before the direct route: the
// scaler to R, G, B bytes with the frame's own matrix and range, then RgbToYCbCr.
Decoded ThroughScaler(const std::string& path) {
  Decoded result;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return result;
  const FormatPtr format(raw);
  if (avformat_find_stream_info(raw, nullptr) < 0) return result;
  const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return result;
  const AVCodec* decoder = avcodec_find_decoder(raw->streams[index]->codecpar->codec_id);
  const CodecPtr codec(avcodec_alloc_context3(decoder));
  avcodec_parameters_to_context(codec.get(), raw->streams[index]->codecpar);
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return result;
  const PacketPtr packet(av_packet_alloc());
  const FramePtr frame(av_frame_alloc());
  bool got = false;
  while (!got && av_read_frame(raw, packet.get()) >= 0) {
    if (packet->stream_index == index) avcodec_send_packet(codec.get(), packet.get());
    av_packet_unref(packet.get());
    got = avcodec_receive_frame(codec.get(), frame.get()) == 0;
  }
  if (!got) {
    avcodec_send_packet(codec.get(), nullptr);
    got = avcodec_receive_frame(codec.get(), frame.get()) == 0;
  }
  if (!got) return result;
  const auto pixelFormat = static_cast<AVPixelFormat>(frame->format);
  result.format = av_get_pix_fmt_name(pixelFormat);
  const std::unique_ptr<SwsContext, void (*)(SwsContext*)> scaler(
      sws_getContext(frame->width, frame->height, pixelFormat, frame->width, frame->height,
                     AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr),
      sws_freeContext);
  int* inv = nullptr;
  int* table = nullptr;
  int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
  sws_getColorspaceDetails(scaler.get(), &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                           &saturation);
  if (frame->color_range == AVCOL_RANGE_JPEG) srcRange = 1;
  const int space = frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace;
  sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(space), srcRange, table, 1, brightness,
                           contrast, saturation);
  const int stride = frame->width * 3 + 64;
  std::vector<uint8_t> rgb(static_cast<std::size_t>(stride) * frame->height + 64);
  uint8_t* dst[4] = {rgb.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
  result.image = std::make_unique<FrameImage>();
  if (!result.image->LoadRows(static_cast<uint32_t>(frame->width), static_cast<uint32_t>(stride),
                              frame->height, rgb.data(), false)) {
    result.image.reset();
  }
  return result;
}

struct RouteCase {
  const char* file;
  const char* format;  // what the decoder delivers, to be sure the clip tests that layout
  double meanLimit;    // mean absolute difference per channel
  int maxLimit;
};

void PrintTo(const RouteCase& c, std::ostream* os) {
  *os << c.file;
}

class ReaderColourRouteTest : public testing::TestWithParam<RouteCase> {};

TEST_P(ReaderColourRouteTest, AgreesWithTheScalerRoute) {
  const RouteCase& c = GetParam();
  const Decoded expected = ThroughScaler(Clip(c.file));
  ASSERT_NE(expected.image, nullptr);
  EXPECT_EQ(expected.format, c.format);
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip(c.file)));
  const auto got = reader.FrameAtTime(0);
  ASSERT_NE(got, nullptr);
  ASSERT_EQ(got->Width(), expected.image->Width());
  ASSERT_EQ(got->Height(), expected.image->Height());
  double sum = 0.0;
  int worst = 0;
  for (uint32_t y = 0; y < got->Height(); ++y) {
    for (uint32_t x = 0; x < got->Width() * 3; ++x) {
      const int d = std::abs(got->Row(y)[x] - expected.image->Row(y)[x]);
      sum += d;
      worst = std::max(worst, d);
    }
  }
  const double mean = sum / (3.0 * got->Width() * got->Height());
  EXPECT_LE(mean, c.meanLimit);
  EXPECT_LE(worst, c.maxLimit);
}

INSTANTIATE_TEST_SUITE_P(Formats, ReaderColourRouteTest,
                         // The scaler rounded R, G, B coarser where chroma is subsampled (up to 3
                         // off); the general route itself must stay exact.
                         testing::Values(RouteCase{"h264_25.mp4", "yuv420p", 1.0, 3},
                                         RouteCase{"bt709.mp4", "yuv420p", 1.0, 3},
                                         RouteCase{"yuv422.mkv", "yuv422p", 1.0, 3},
                                         RouteCase{"yuv444.mkv", "yuv444p", 0.01, 1},
                                         RouteCase{"mjpeg.avi", "yuvj420p", 1.0, 3},
                                         RouteCase{"yuv420p10.mkv", "yuv420p10le", 0.0, 0},
                                         RouteCase{"gray.mkv", "gray", 0.0, 0},
                                         RouteCase{"qtrle.mov", "rgb24", 0.0, 0},
                                         RouteCase{"anim.gif", "bgra", 0.0, 0}),
                         [](const testing::TestParamInfo<RouteCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name) {
                             if (ch == '.') ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace quillon
