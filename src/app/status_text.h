// The texts the window builds from an encoding's figures: the six status lines of the Timeline
// page, the four lines of the Encoded Flash page and the window titles.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace quillon {

class EncoderController;

// A snapshot of the controller's figures, so that the texts can be built (and tested) without
// a run.
struct RunFigures {
  double progress = 0.0;  // whole percent
  uint32_t elapsedMs = 0;
  uint32_t estimatedMs = 0;
  double averageBitRate = 0.0;  // bit/s
  double previousBitRate = 0.0;
  uint64_t outputBytes = 0;
  uint32_t partCount = 0;
  double pixelCompression = 0.0;  // percent
  uint64_t playerMemory = 0;      // bytes

  static RunFigures From(const EncoderController& controller);
};

inline constexpr const char* kProductName = "Quillon Video Encoder";
inline constexpr int kStatusLineCount = 6;

QStringList NoMovieStatusLines();
QStringList MovieStatusLines(uint32_t width, uint32_t height, double fps,
                             const QString& soundDescription);
QStringList EncodingStatusLines(const RunFigures& figures);
// "No movie encoded..." and three empty lines.
QStringList NoEncodedFigures();
QStringList EncodedFigures(const RunFigures& figures);

// "Quillon Video Encoder: <name>" and, while encoding, "42% - Quillon Video Encoder: <path>".
QString MovieTitle(const QString& nameOrPath);
QString ProgressTitle(double percent, const QString& moviePath);

}  // namespace quillon
