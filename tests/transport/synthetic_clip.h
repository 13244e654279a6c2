// Synthetic clips for driving the Transport without a movie file: a video reader that paints
// frames from a formula, the run's stages wired as the controller wires them, and a reader
// for the part files they produce.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_store.h"
#include "match/frame_use_store.h"
#include "match/match_engine.h"
#include "match/screen_use_store.h"
#include "settings/encoder_settings.h"
#include "swf/swf_test_reader.h"
#include "swf/transport/transport.h"
#include "video/frame_store.h"

namespace quillon::testing {

class FakeAudioReader;
struct FakeMp3Library;

enum class ClipPattern {
  kMovingSquare,    // flat background, a bright square moving right by 8 pixels a frame
  kFlat,            // one colour throughout (every block plain)
  kNoise,           // every pixel of every frame different (nothing reusable, big bitmaps)
  kStatic,          // one textured picture repeated (reuse after the first frame)
  kMirroredBlocks,  // kStatic with every 16 x 16 block read mirrored in place: frame n % 4 =
                    // 0 as is, 1 left-right, 2 top-bottom, 3 both
};

struct ClipSpec {
  uint32_t width = 64;
  uint32_t height = 48;
  uint32_t frames = 12;
  double fps = 12.0;
  ClipPattern pattern = ClipPattern::kMovingSquare;
  bool emptyVideo = false;  // a sound-only movie: no pictures at all
  bool sound = false;       // a mono ADPCM tone at 11025 Hz over the whole clip
  // With sound: a 44100 Hz tone coded as MP3 by a scripted encoder (TransportRig::mp3) that
  // makes one MP3 frame of 22050 Hz per mp3FramesPer input frames, instead of ADPCM.
  uint32_t mp3FramesPer = 0;
  // Frames from this one on fail to decode (yet count as readable, as a file that breaks
  // down during the run).
  uint32_t undecodableFrom = UINT32_MAX;
  // Told each frame number once its picture is painted, on the thread that asked for it.
  std::function<void(uint32_t)> painted = nullptr;
};

// The stages of one run, set up as the controller does before starting the encoding thread.
struct TransportRig {
  EncoderSettings settings;
  std::unique_ptr<FrameStore> frames;
  std::unique_ptr<AudioStore> audio;
  std::unique_ptr<FrameUseStore> uses;
  std::unique_ptr<ScreenUseStore> screen;
  std::unique_ptr<MatchEngine> match;
  std::unique_ptr<Transport> transport;
  std::string error;
  // The scripted MP3 encoder (ClipSpec::mp3FramesPer) and the sound's reader, both owned by
  // the audio store; scriptable until Run.
  FakeMp3Library* mp3 = nullptr;
  FakeAudioReader* soundReader = nullptr;

  TransportRig();
  // Opens the clip, configures the source from settings.frame, sets up the matching stages
  // and initialises the Transport (which gets settings.transport and settings.match).
  [[nodiscard]] bool Prepare(const ClipSpec& clip, const std::string& baseFolder = "");
  // Runs into folder (ending in "/") over the whole clip.
  [[nodiscard]] bool Run(const std::string& folder);
  uint32_t FrameCount() const;
  uint32_t DurationMs() const;
};

// A part file split into its header fields and tags.
struct SwfFile {
  bool ok = false;
  uint8_t version = 0;
  uint32_t fileLength = 0;
  SwfRect stage;
  uint16_t frameRate = 0;  // 8.8
  uint16_t frameCount = 0;
  std::vector<ParsedTag> tags;
};

SwfFile ReadSwfFile(const std::string& path);
SwfFile ParseSwf(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// A fresh, empty folder under the build tree for one test's part files (ends in "/").
std::string FreshFolder(const std::string& name);
// Tags of one code, in file order.
std::vector<const ParsedTag*> TagsOf(const SwfFile& file, uint16_t code);
uint32_t CountTags(const SwfFile& file, uint16_t code);

// The fill styles of a DefineShape2 body (enough of it to check fills and ids).
struct ShapeFill {
  uint8_t type = 0;  // 0x00 solid, 0x41 clipped bitmap
  SwfRgb color;
  uint16_t bitmapId = 0;
  SwfMatrix matrix;
};
struct ShapeInfo {
  bool ok = false;
  uint16_t id = 0;
  SwfRect bounds;
  std::vector<ShapeFill> fills;
  // From the shape records: the pen's extent and the fill styles drawn with.
  int32_t maxX = 0;
  int32_t maxY = 0;
  uint32_t edges = 0;
  std::vector<uint32_t> fillsUsed;  // FillStyle1 of each style change that sets one
  struct Rect {
    uint32_t fill = 0;  // FillStyle1 in force, 1-based
    int32_t x = 0, y = 0, w = 0, h = 0;
  };
  std::vector<Rect> rects;  // each run of four edges drawn from its start point
};
ShapeInfo ParseShape2(const std::vector<uint8_t>& body);

}  // namespace quillon::testing
