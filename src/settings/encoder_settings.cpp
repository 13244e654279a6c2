#include "settings/encoder_settings.h"

#include <algorithm>
#include <cmath>

namespace quillon {

void SetDefaults(FrameOptions* frame, AudioOptions* audio, MatchOptions* match,
                 TransportOptions* transport) {
  if (frame != nullptr) *frame = FrameOptions{};
  if (audio != nullptr) *audio = AudioOptions{};
  if (match != nullptr) *match = MatchOptions{};
  if (transport != nullptr) *transport = TransportOptions{};
}

void SetDefaults(EncoderSettings& settings) {
  SetDefaults(&settings.frame, &settings.audio, &settings.match, &settings.transport);
}

void ReleaseOptions(TransportOptions& transport) { transport.playerVar.reset(); }

PlayerLinkType GetPlayerLinkType(const TransportOptions& transport) {
  return static_cast<PlayerLinkType>(transport.playerFlags & TransportOptions::kPlayerLinkTypeMask);
}

void SetPlayerLinkType(TransportOptions& transport, PlayerLinkType type) {
  transport.playerFlags = (transport.playerFlags & ~TransportOptions::kPlayerLinkTypeMask) |
                          (static_cast<std::uint32_t>(type) & TransportOptions::kPlayerLinkTypeMask);
}

PlayerEndType GetPlayerEndType(const TransportOptions& transport) {
  return static_cast<PlayerEndType>((transport.playerFlags & TransportOptions::kPlayerEndTypeMask) >>
                                    TransportOptions::kPlayerEndTypeShift);
}

void SetPlayerEndType(TransportOptions& transport, PlayerEndType type) {
  const std::uint32_t bits = (static_cast<std::uint32_t>(type) << TransportOptions::kPlayerEndTypeShift) &
                             TransportOptions::kPlayerEndTypeMask;
  transport.playerFlags = (transport.playerFlags & ~TransportOptions::kPlayerEndTypeMask) | bits;
}

double MapQualityLimit(double limit, const LimitSignature& signature) {
  if (limit < signature.knee) {
    return signature.low + limit * (signature.mid - signature.low) / signature.knee;
  }
  const double g = (signature.high - signature.mid) / (100.0 - signature.knee);
  return signature.high - g * 100.0 + limit * g;
}

double QualityThreshold(double limit, const LimitSignature& signature) {
  if (limit < 0.0) return -limit * kQualityUnit;
  return MapQualityLimit(limit, signature) * kQualityUnit;
}

namespace {

double SwfFrameRate(double rate) {
  return std::clamp(rate, kMinSwfFrameRate, kMaxSwfFrameRate);
}

}  // namespace

bool OutputFrameRate(double fps, double sourceRate, double& outputRate) {
  if (fps > 0.0) {
    outputRate = std::min(fps, sourceRate);
  } else {
    if (sourceRate == 0.0) return false;
    if (fps == 0.0) fps = -100.0;
    outputRate = std::min(sourceRate, sourceRate * (-fps) * 0.01);
  }
  // A rate of 0 or below (a source without a rate, a negative percentage) stays for the
  // caller to refuse.
  if (outputRate > 0.0) outputRate = SwfFrameRate(outputRate);
  return true;
}

bool ResizePercent(float resize, std::uint32_t sourceWidth, float& percent) {
  if (resize >= 0.0f) {
    percent = resize;
    return true;
  }
  if (sourceWidth == 0) return false;
  percent = -resize / static_cast<float>(sourceWidth) * 100.0f;
  return true;
}

namespace {

std::uint32_t ScaledSide(std::uint32_t side, double scale) {
  const double scaled = std::floor(static_cast<double>(side) * scale + 0.5);
  if (!(scaled >= 1.0)) return 1;  // also catches NaN from a nonsense percentage
  if (scaled >= static_cast<double>(side)) return std::max<std::uint32_t>(side, 1);
  return static_cast<std::uint32_t>(scaled);
}

}  // namespace

void OutputFrameSize(float percent, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                     std::uint32_t& width, std::uint32_t& height) {
  const double scale = static_cast<double>(percent) * 0.01;
  width = ScaledSide(sourceWidth, scale);
  height = ScaledSide(sourceHeight, scale);
}

double PlayerFrameRate(float playerFps, double outputRate) {
  if (playerFps != 0.0f && static_cast<double>(playerFps) >= outputRate) {
    return SwfFrameRate(playerFps);
  }
  return SwfFrameRate(outputRate);
}

std::uint32_t LimboFrames(float blockLimbo, std::int32_t searchedFrames) {
  double frames;
  if (blockLimbo >= 0.0f) {
    frames = std::floor(static_cast<double>(blockLimbo));
  } else {
    const double percent = std::min(-static_cast<double>(blockLimbo), 100.0);
    frames = std::floor(percent * static_cast<double>(searchedFrames) * 0.01);
  }
  if (!(frames > 0.0)) return 0;
  if (frames >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(frames);
}

std::uint32_t BudgetBytesPerSecond(std::uint32_t bitrateLimit) { return bitrateLimit / 8; }

std::uint32_t PartByteLimit(std::uint32_t partSizeLimit) { return partSizeLimit; }

double PaletteDiffThreshold(float zlib8PaletteDiffLimit) {
  return static_cast<double>(zlib8PaletteDiffLimit) * 0.01 * kMaxPixelDistance;
}

}  // namespace quillon
