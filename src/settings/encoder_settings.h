// The settings records every encoding stage is steered by, their defaults, and the rules
// (quality limits, sign conventions, derived rates and sizes) that several stages share.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

// One hundredth of the largest squared colour distance of a pixel (3 x 255 x 255 = 195075):
// the unit in which quality limits become error thresholds.
inline constexpr double kQualityUnit = 1950.75;
inline constexpr double kMaxPixelDistance = 195075.0;

// Text field capacities; the settings reader cuts longer values to these.
inline constexpr std::size_t kLinkMaxLength = 2048;
inline constexpr std::size_t kLinkTargetMaxLength = 128;
inline constexpr std::size_t kLoaderMaxLength = 260;
inline constexpr std::size_t kDescriptionMaxLength = 512;

// The piecewise-linear curve from a quality percentage to a threshold factor, through
// (0, low), (knee, mid) and (100, high). Stored in files in this field order.
struct LimitSignature {
  double low = 0.0;
  double high = 0.0;
  double knee = 0.0;
  double mid = 0.0;
};

enum class PlayerEndType : std::uint8_t {
  kNothing = 0,
  kUnload = 1,
  kStop = 2,
  kStop2 = 3,
  kLoop = 4,
  kLoopBegin = 5,
  kLoadMovie = 6,
  kGetUrl = 7,
};

enum class PlayerLinkType : std::uint8_t {
  kNone = 0,
  kLoadMovie = 1,
  kGetUrl = 2,
};

enum class PlayerQuality : std::uint8_t {
  kNone = 0,  // the movie does not set a quality
  kLow = 1,
  kMedium = 2,  // honoured by Flash 5 players only
  kHigh = 3,
  kBest = 4,
};

// The most smoothing passes a frame gets, as many as the settings page offers: a hand-edited
// file asking for thousands would hold every frame (and a cancel) for minutes.
inline constexpr std::uint32_t kMaxSmoothCycles = 9;

// Section "Frame": output rate, size and the frame filters.
struct FrameOptions {
  static constexpr std::uint32_t kProcess = 1u << 0;  // kept, not read by the video stages
  static constexpr std::uint32_t kUniformSpanHorizontal = 1u << 1;
  static constexpr std::uint32_t kUniformSpanVertical = 1u << 2;
  static constexpr std::uint32_t kUniformBlockHorizontal = 1u << 3;
  static constexpr std::uint32_t kUniformBlockVertical = 1u << 4;

  std::uint32_t flags = kProcess;
  // > 0: exact frames per second; < 0: percent of the source rate; 0 counts as -100.
  double fps = -100.0;
  std::uint8_t resizeMethod = 1;  // 1 average, anything else raw
  // > 0: percent of the source size; < 0: final width in pixels.
  float resize = 100.0f;
  float uniformSpanLimit = 80.0f;  // quality limit through signature[0]
  std::uint32_t uniformSpanSize = 2;
  float uniformBlockLimit = 80.0f;  // quality limit through signature[1]
  std::uint32_t uniformBlockSize = 2;
  float darken = 0.0f;
  float darkLimit = 0.0f;  // percent; times 2.55 gives the luminance level
  std::uint8_t lightQuantize = 8;
  std::uint8_t chromaQuantize = 8;
  float smooth = 0.0f;
  std::uint32_t smoothCycles = 0;  // at most kMaxSmoothCycles are applied
  std::uint32_t cacheSize = 41;

  // Working values the video source fills when it takes its copy; never in a file.
  float spanThreshold = 0.0f;
  float blockThreshold = 0.0f;
  float darkThreshold = 0.0f;
  std::uint32_t outputWidth = 0;
  std::uint32_t outputHeight = 0;

  std::array<LimitSignature, 2> signature{{{8.0, 0.0, 50.0, 0.5}, {8.0, 0.0, 50.0, 0.5}}};
};

// Section "Audio": the sound track.
struct AudioOptions {
  static constexpr std::uint32_t kProcess = 1u << 0;
  static constexpr std::uint32_t kForceMono = 1u << 1;
  static constexpr std::uint32_t kCompressionMp3 = 1u << 2;  // clear means ADPCM
  static constexpr std::uint32_t kMp3Abr = 1u << 3;

  std::uint32_t flags = kProcess | kCompressionMp3;
  std::int32_t rate = 22050;
  std::int32_t mp3kbps = 16;
  std::uint8_t adpcmBits = 5;
  float volume = 100.0f;
  float offset = 0.0f;  // milliseconds; positive delays the sound
};

// Section "Match": block matching.
struct MatchOptions {
  static constexpr std::uint32_t kImage = 1u << 0;
  static constexpr std::uint32_t kShape = 1u << 1;
  static constexpr std::uint32_t kCoordTransform = 1u << 2;
  static constexpr std::uint32_t kNearby = 1u << 3;            // kept, not read by the matcher
  static constexpr std::uint32_t kNearbyMethodLog = 1u << 4;   // kept, not read by the matcher

  std::uint32_t flags = kImage | kShape;
  std::int32_t searchedFrames = 40;
  float blockWidth = 5.0f;   // > 0: blocks across; < 0: width in pixels
  float blockHeight = 5.0f;  // > 0: blocks down; < 0: height in pixels
  float limit = 80.0f;
  float matchThreshold = 0.0f;  // working value of the matcher
  float plainBound = 80.0f;
  float plainThreshold = 0.0f;  // working value of the matcher
  float useLimit = 50.0f;
  std::uint32_t useLimitThreshold = 0;  // working value of the matcher
  std::uint32_t nearbyGrain = 1;
  std::int32_t nearbyDisplacement = 8;
  LimitSignature signature{5.0, 0.0, 50.0, 0.01};  // for both limit and plainBound
};

// Section "Transport": the SWF output.
struct TransportOptions {
  static constexpr std::uint32_t kJpeg = 1u << 0;
  static constexpr std::uint32_t kZlib32 = 1u << 1;
  static constexpr std::uint32_t kZlib8 = 1u << 2;
  static constexpr std::uint32_t kResizeForce8 = 1u << 3;  // only power-of-two block sizes
  static constexpr std::uint32_t kResizeHorizontal = 1u << 4;
  static constexpr std::uint32_t kResizeVertical = 1u << 5;
  static constexpr std::uint32_t kTransientResizeHorizontal = 1u << 6;
  static constexpr std::uint32_t kTransientResizeVertical = 1u << 7;

  // playerFlags: link type in bits 0-3, end type in bits 4-11, then three switches.
  static constexpr std::uint32_t kPlayerLinkTypeMask = 0x0000000Fu;
  static constexpr std::uint32_t kPlayerEndTypeMask = 0x00000FF0u;
  static constexpr unsigned kPlayerEndTypeShift = 4;
  static constexpr std::uint32_t kPlayerProtect = 1u << 12;
  static constexpr std::uint32_t kPlayerDisplayCursor = 1u << 13;
  static constexpr std::uint32_t kPlayerOptimizeMemory = 1u << 14;

  std::uint32_t flags = kJpeg | kZlib32;
  std::uint8_t jpegQuality = 65;
  std::uint8_t zlibQuality = 9;
  float zlib8PaletteDiffLimit = 0.5f;  // percent of kMaxPixelDistance
  std::uint32_t zlib8Palette = 32;
  std::uint32_t zlib8UniqueLimit = 99999;
  std::uint32_t backColor = 0x000000;  // 0xRRGGBB
  float backWidth = 100.0f;   // percent of the output frame width
  float backHeight = 100.0f;  // percent of the output frame height
  float resizeLimit = 80.0f;  // quality limit through signature[0]
  std::uint8_t resizeMethod = 1;
  float transientResizeLimit = 80.0f;  // quality limit through signature[1]
  std::uint8_t transientResizeMethod = 1;
  std::uint32_t partSizeLimit = 0;  // bytes; 0 = no limit
  std::uint32_t bitrateLimit = 0;   // bits per second; 0 = no limit
  float playerFps = 0.0f;           // 0 = the output frame rate
  PlayerQuality playerQuality = PlayerQuality::kHigh;
  // > 0: frames; < 0: percent of MatchOptions::searchedFrames.
  float playerBlockLimbo = -50.0f;
  std::uint32_t playerFlags = kPlayerDisplayCursor | kPlayerOptimizeMemory;
  std::string playerLink;           // up to kLinkMaxLength
  std::string playerLinkTarget;     // up to kLinkTargetMaxLength
  std::string playerEndLink;        // up to kLinkMaxLength
  std::string playerEndLinkTarget;  // up to kLinkTargetMaxLength
  std::string playerLoader;         // up to kLoaderMaxLength; empty = no preloader
  // Action Script variables, "name,value\n" per line. A value, not a handle: a stage's copy
  // can never release the controller's text. nullopt means "no buffer" (nothing written).
  std::optional<std::string> playerVar;
  std::string description;  // up to kDescriptionMaxLength
  std::array<LimitSignature, 2> signature{{{5.0, 0.0, 50.0, 0.5}, {5.0, 0.0, 50.0, 0.5}}};
};

struct EncoderSettings {
  FrameOptions frame;
  AudioOptions audio;
  MatchOptions match;
  TransportOptions transport;
};

// Fills every given record with the defaults (texts emptied, no variables buffer).
void SetDefaults(FrameOptions* frame, AudioOptions* audio, MatchOptions* match,
                 TransportOptions* transport);
void SetDefaults(EncoderSettings& settings);
// Drops the variables buffer (sets it to none).
void ReleaseOptions(TransportOptions& transport);

PlayerLinkType GetPlayerLinkType(const TransportOptions& transport);
void SetPlayerLinkType(TransportOptions& transport, PlayerLinkType type);
PlayerEndType GetPlayerEndType(const TransportOptions& transport);
void SetPlayerEndType(TransportOptions& transport, PlayerEndType type);

// The signature curve alone (result in threshold factors, not yet times kQualityUnit).
double MapQualityLimit(double limit, const LimitSignature& signature);
// The threshold rule: a negative limit L bypasses the signature and gives -L x kQualityUnit;
// otherwise MapQualityLimit(L) x kQualityUnit.
double QualityThreshold(double limit, const LimitSignature& signature);

// The frame rates an SWF header can state (8.8 fixed point): its smallest step and its largest
// value. A rate outside them would be written clamped while the frames keep the real rate, so
// the movie would play at the wrong speed against its sound.
inline constexpr double kMinSwfFrameRate = 1.0 / 256.0;
inline constexpr double kMaxSwfFrameRate = 65535.0 / 256.0;

// Output frame rate for a source rate, within the SWF header's range; false when the rate is
// relative (or 0) and the source rate is 0, which the video source reports as an error.
[[nodiscard]] bool OutputFrameRate(double fps, double sourceRate, double& outputRate);
// Resize as a percentage: a negative value (final width) becomes -value / sourceWidth x 100.
// False for a negative value when sourceWidth is 0.
[[nodiscard]] bool ResizePercent(float resize, std::uint32_t sourceWidth, float& percent);
// Output size from a percentage: rounded, never larger than the source, at least 1.
void OutputFrameSize(float percent, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                     std::uint32_t& width, std::uint32_t& height);
// Transport.Player.FPS when it is set and not below the output rate, else the output rate;
// within the SWF header's range.
double PlayerFrameRate(float playerFps, double outputRate);
// Frames a released bitmap stays in player memory.
std::uint32_t LimboFrames(float blockLimbo, std::int32_t searchedFrames);
// Bytes per second allowed by the bit-rate limit; 0 means unlimited.
std::uint32_t BudgetBytesPerSecond(std::uint32_t bitrateLimit);
// Largest part in bytes; 0 means unlimited.
std::uint32_t PartByteLimit(std::uint32_t partSizeLimit);
// Largest squared colour distance merged into one 8-bit palette entry.
double PaletteDiffThreshold(float zlib8PaletteDiffLimit);

}  // namespace quillon
