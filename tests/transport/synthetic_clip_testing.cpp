// Synthetic clips and part-file reading for the Transport tests and the whole-file checks.
#include "transport/synthetic_clip.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "audio/audio_fakes.h"
#include "video/video_reader.h"

namespace quillon::testing {

namespace {

class SyntheticVideoReader : public VideoReader {
 public:
  explicit SyntheticVideoReader(const ClipSpec& clip) : clip_(clip) {}

  int32_t TimeToSample(uint32_t ms) const override {
    // Nearest sample: output times are whole milliseconds, truncated from exact frame times.
    return static_cast<int32_t>(std::lround(ms * clip_.fps / 1000.0));
  }
  uint32_t SampleToTime(int32_t sample) const override {
    return static_cast<uint32_t>(std::ceil(sample * 1000.0 / clip_.fps - 1e-9));
  }
  bool Open(const std::string&) override {
    frameCount = clip_.frames;
    fps = clip_.fps;
    durationMs = static_cast<uint32_t>(std::ceil(clip_.frames * 1000.0 / clip_.fps));
    msPerSample = static_cast<uint32_t>(1000.0 / clip_.fps);
    width = clip_.width;
    height = clip_.height;
    return true;
  }
  void Close() override {}
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override {
    if (sample < 0) sample = 0;
    if (static_cast<uint32_t>(sample) >= clip_.frames)
      sample = static_cast<int32_t>(clip_.frames) - 1;
    if (static_cast<uint32_t>(sample) >= clip_.undecodableFrom) return nullptr;
    std::unique_ptr<FrameImage> image = Paint(static_cast<uint32_t>(sample));
    if (image && clip_.painted) clip_.painted(static_cast<uint32_t>(sample));
    return image;
  }
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override {
    return FrameAtSample(TimeToSample(ms));
  }
  bool IsReadableAt(uint32_t ms) override { return ms < durationMs; }

 private:
  std::unique_ptr<FrameImage> Paint(uint32_t n) const {
    auto image = std::make_unique<FrameImage>();
    if (!image->Allocate(clip_.width, clip_.height, Colour{60, 120, 140})) return nullptr;
    for (uint32_t y = 0; y < clip_.height; ++y) {
      uint8_t* row = image->Row(y);
      for (uint32_t x = 0; x < clip_.width; ++x) {
        uint8_t* p = row + 3 * x;
        if (clip_.pattern == ClipPattern::kMirroredBlocks) {
          const uint32_t sx = (n & 1) != 0 ? (x & ~15u) + 15 - (x & 15) : x;
          const uint32_t sy = (n & 2) != 0 ? (y & ~15u) + 15 - (y & 15) : y;
          p[0] = static_cast<uint8_t>((sx * 7 + sy * 13) & 0xFF);
          p[1] = static_cast<uint8_t>(128 + ((sx ^ sy) & 0x1F));
          p[2] = static_cast<uint8_t>(100 + (sy & 0x3F));
          continue;
        }
        switch (clip_.pattern) {
          case ClipPattern::kFlat:
            break;
          case ClipPattern::kMovingSquare: {
            const uint32_t left = (n * 8) % clip_.width;
            if (x >= left && x < left + 16 && y >= 16 && y < 32) {
              p[0] = 230;
              p[1] = 90;
              p[2] = 200;
            }
            break;
          }
          case ClipPattern::kNoise: {
            uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ (n * 83492791u);
            h ^= h >> 13;
            h *= 0x5bd1e995u;
            h ^= h >> 15;
            p[0] = static_cast<uint8_t>(h);
            p[1] = static_cast<uint8_t>(h >> 8);
            p[2] = static_cast<uint8_t>(h >> 16);
            break;
          }
          case ClipPattern::kMirroredBlocks:
          case ClipPattern::kStatic:
            p[0] = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
            p[1] = static_cast<uint8_t>(128 + ((x ^ y) & 0x1F));
            p[2] = static_cast<uint8_t>(100 + (y & 0x3F));
            break;
        }
      }
    }
    return image;
  }

  ClipSpec clip_;
};

uint32_t ReadBits(const std::vector<uint8_t>& b, size_t& bitPos, uint32_t n) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i, ++bitPos) {
    const size_t byte = bitPos / 8;
    const uint32_t bit = byte < b.size() ? (b[byte] >> (7 - bitPos % 8)) & 1u : 0u;
    v = (v << 1) | bit;
  }
  return v;
}

int32_t ReadSigned(const std::vector<uint8_t>& b, size_t& bitPos, uint32_t n) {
  if (n == 0) return 0;
  const uint32_t v = ReadBits(b, bitPos, n);
  if (n < 32 && (v & (1u << (n - 1)))) return static_cast<int32_t>(v | ~((1u << n) - 1));
  return static_cast<int32_t>(v);
}

SwfRect ReadRect(const std::vector<uint8_t>& b, size_t& bitPos) {
  const uint32_t n = ReadBits(b, bitPos, 5);
  SwfRect r;
  r.xMin = ReadSigned(b, bitPos, n);
  r.xMax = ReadSigned(b, bitPos, n);
  r.yMin = ReadSigned(b, bitPos, n);
  r.yMax = ReadSigned(b, bitPos, n);
  bitPos = (bitPos + 7) / 8 * 8;
  return r;
}

SwfMatrix ReadMatrix(const std::vector<uint8_t>& b, size_t& bitPos) {
  SwfMatrix m;
  if (ReadBits(b, bitPos, 1)) {
    const uint32_t n = ReadBits(b, bitPos, 5);
    m.scaleX = ReadSigned(b, bitPos, n);
    m.scaleY = ReadSigned(b, bitPos, n);
  }
  if (ReadBits(b, bitPos, 1)) {
    const uint32_t n = ReadBits(b, bitPos, 5);
    m.rotateSkew0 = ReadSigned(b, bitPos, n);
    m.rotateSkew1 = ReadSigned(b, bitPos, n);
  }
  const uint32_t n = ReadBits(b, bitPos, 5);
  m.translateX = ReadSigned(b, bitPos, n);
  m.translateY = ReadSigned(b, bitPos, n);
  bitPos = (bitPos + 7) / 8 * 8;
  return m;
}

}  // namespace

TransportRig::TransportRig() {
  SetDefaults(settings);
}

bool TransportRig::Prepare(const ClipSpec& clip, const std::string& baseFolder) {
  frames = std::make_unique<FrameStore>([clip](ReaderKind kind) -> std::unique_ptr<VideoReader> {
    if (kind != ReaderKind::kStream) return nullptr;
    return std::make_unique<SyntheticVideoReader>(clip);
  });
  if (clip.emptyVideo) {
    (void)frames->SetEmptyVideo(clip.frames,
                                static_cast<uint32_t>(std::ceil(clip.frames * 1000.0 / clip.fps)),
                                clip.width, clip.height, clip.fps);
  } else if (!frames->Open("synthetic")) {
    error = "open: " + frames->lastError;
    return false;
  }
  if (!frames->Configure(settings.frame)) {
    error = "configure: " + frames->lastError;
    return false;
  }
  if (!frames->SelectRange(0, 0xFFFFFFFFu)) {
    error = "range: " + frames->lastError;
    return false;
  }
  uses = std::make_unique<FrameUseStore>();
  screen = std::make_unique<ScreenUseStore>();
  match = std::make_unique<MatchEngine>();
  transport = std::make_unique<Transport>();
  if (!match->Setup(settings.match, frames.get(), uses.get(), screen.get())) {
    error = "match: " + match->lastError;
    return false;
  }
  if (!uses->Setup(*frames)) {
    error = "uses: " + uses->lastError;
    return false;
  }
  if (!screen->Setup(*frames, match->BlockWidth(), match->BlockHeight())) {
    error = "screen: " + screen->lastError;
    return false;
  }
  if (clip.sound) {
    const bool mp3Sound = clip.mp3FramesPer > 0;
    const uint32_t rate = mp3Sound ? 44100 : 11025;
    const uint32_t count = static_cast<uint32_t>(clip.frames * rate / clip.fps) + rate;
    std::vector<int16_t> samples(count);
    for (uint32_t i = 0; i < count; ++i) {
      samples[i] = static_cast<int16_t>(8000.0 * std::sin(i * 2.0 * 3.14159265 * 440.0 / rate));
    }
    if (mp3Sound) {
      audio = std::make_unique<AudioStore>(Observed(mp3));
      mp3->framesPerMp3Frame = clip.mp3FramesPer;
      mp3->stampFrames = true;
      settings.audio.flags |= AudioOptions::kCompressionMp3;
      settings.audio.rate = 22050;
    } else {
      audio = std::make_unique<AudioStore>();
      settings.audio.flags &= ~AudioOptions::kCompressionMp3;
      settings.audio.rate = static_cast<int32_t>(rate);
    }
    soundReader = FakeAudioReader::From16(samples, 1, rate);
    if (!audio->OpenReader(std::unique_ptr<AudioReader>(soundReader), AudioReaderKind::kStream) ||
        !audio->Setup(settings.audio) || !audio->SetRange(0, frames->RangeDurationMs())) {
      error = "audio: " + audio->lastError;
      return false;
    }
  }
  transport->SetOptions(settings.transport, settings.match);
  if (!transport->Initialise(frames.get(), audio.get(), uses.get(), screen.get(), match.get(),
                             baseFolder)) {
    error = "transport: " + transport->lastError;
    return false;
  }
  return true;
}

uint32_t TransportRig::FrameCount() const {
  return frames->RangeFrameCount();
}
uint32_t TransportRig::DurationMs() const {
  return frames->RangeDurationMs();
}

bool TransportRig::Run(const std::string& folder) {
  const bool ok = transport->Run(folder, FrameCount(), DurationMs());
  if (!ok) error = transport->ErrorText();
  return ok;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

SwfFile ParseSwf(const std::vector<uint8_t>& bytes) {
  SwfFile f;
  if (bytes.size() < 12 || bytes[0] != 'F' || bytes[1] != 'W' || bytes[2] != 'S') return f;
  f.version = bytes[3];
  f.fileLength = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (uint32_t{bytes[7]} << 24);
  size_t bitPos = 64;
  f.stage = ReadRect(bytes, bitPos);
  size_t p = bitPos / 8;
  if (p + 4 > bytes.size()) return f;
  f.frameRate = static_cast<uint16_t>(bytes[p] | (bytes[p + 1] << 8));
  f.frameCount = static_cast<uint16_t>(bytes[p + 2] | (bytes[p + 3] << 8));
  f.tags = ParseTags(bytes, p + 4);
  f.ok = true;
  return f;
}

SwfFile ReadSwfFile(const std::string& path) {
  return ParseSwf(ReadFileBytes(path));
}

std::string FreshFolder(const std::string& name) {
  const std::filesystem::path dir =
      std::filesystem::path(QUILLON_TEST_BINARY_DIR) / "transport_tests" / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

std::vector<const ParsedTag*> TagsOf(const SwfFile& file, uint16_t code) {
  std::vector<const ParsedTag*> out;
  for (const ParsedTag& t : file.tags) {
    if (t.code == code) out.push_back(&t);
  }
  return out;
}

uint32_t CountTags(const SwfFile& file, uint16_t code) {
  return static_cast<uint32_t>(TagsOf(file, code).size());
}

ShapeInfo ParseShape2(const std::vector<uint8_t>& body) {
  ShapeInfo s;
  if (body.size() < 3) return s;
  s.id = static_cast<uint16_t>(body[0] | (body[1] << 8));
  size_t bitPos = 16;
  s.bounds = ReadRect(body, bitPos);
  size_t p = bitPos / 8;
  if (p >= body.size()) return s;
  uint32_t count = body[p++];
  if (count == 0xFF) {
    count = body[p] | (body[p + 1] << 8);
    p += 2;
  }
  for (uint32_t i = 0; i < count && p < body.size(); ++i) {
    ShapeFill fill;
    fill.type = body[p++];
    if (fill.type == 0x00) {
      fill.color = SwfRgb{body[p], body[p + 1], body[p + 2], 255};
      p += 3;
    } else {
      fill.bitmapId = static_cast<uint16_t>(body[p] | (body[p + 1] << 8));
      p += 2;
      size_t bits = p * 8;
      fill.matrix = ReadMatrix(body, bits);
      p = bits / 8;
    }
    s.fills.push_back(fill);
  }
  if (s.fills.size() != count || p + 2 > body.size()) return s;
  ++p;  // line style count (0)
  const uint32_t fillBits = body[p] >> 4;
  const uint32_t lineBits = body[p] & 0x0F;
  ++p;
  size_t bits = p * 8;
  int32_t x = 0;
  int32_t y = 0;
  uint32_t fill = 0;
  while (bits / 8 < body.size()) {
    if (ReadBits(body, bits, 1) == 0) {
      const uint32_t flags = ReadBits(body, bits, 5);
      if (flags == 0) {
        s.ok = true;
        break;
      }
      if (flags & 0x01) {
        const uint32_t n = ReadBits(body, bits, 5);
        x = ReadSigned(body, bits, n);
        y = ReadSigned(body, bits, n);
      }
      if (flags & 0x02) (void)ReadBits(body, bits, fillBits);
      if (flags & 0x04) {
        s.fillsUsed.push_back(ReadBits(body, bits, fillBits));
        fill = s.fillsUsed.back();
      }
      if (flags & 0x08) (void)ReadBits(body, bits, lineBits);
      if (flags & 0x10) break;  // new styles: never written here
    } else {
      if (ReadBits(body, bits, 1) == 0) break;  // curved: never written here
      const uint32_t n = ReadBits(body, bits, 4) + 2;
      if (s.edges % 4 == 0) s.rects.push_back(ShapeInfo::Rect{fill, x, y, 0, 0});
      const int32_t x0 = x, y0 = y;
      if (ReadBits(body, bits, 1)) {
        x += ReadSigned(body, bits, n);
        y += ReadSigned(body, bits, n);
      } else if (ReadBits(body, bits, 1)) {
        y += ReadSigned(body, bits, n);
      } else {
        x += ReadSigned(body, bits, n);
      }
      if (s.edges % 4 == 0) s.rects.back().w = x - x0;
      if (s.edges % 4 == 1) s.rects.back().h = y - y0;
      ++s.edges;
    }
    s.maxX = std::max(s.maxX, x);
    s.maxY = std::max(s.maxY, y);
  }
  return s;
}

}  // namespace quillon::testing
