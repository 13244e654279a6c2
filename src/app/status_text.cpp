#include "app/status_text.h"

#include <cmath>

#include "app/time_text.h"
#include "encoder/encoder_controller.h"

namespace quillon {

namespace {

QString Format(const char* format, auto... values) {
  return QString::asprintf(format, values...);
}

QStringList PadLines(QStringList lines, int count) {
  while (lines.size() < count) lines.append(QString());
  return lines;
}

QString StatusTime(uint32_t ms) {
  return QString::fromStdString(FormatTimeText(ms, kTimeStatusFlags));
}

}  // namespace

RunFigures RunFigures::From(const EncoderController& controller) {
  RunFigures f;
  f.progress = controller.Progress();
  f.elapsedMs = controller.ElapsedMs();
  f.estimatedMs = controller.EstimatedTotalMs();
  f.averageBitRate = controller.AverageBitRate();
  f.previousBitRate = controller.PreviousBitRate();
  f.outputBytes = controller.OutputBytes();
  f.partCount = controller.PartCount();
  f.pixelCompression = controller.PixelCompression();
  f.playerMemory = controller.PlayerMemory();
  return f;
}

QStringList NoMovieStatusLines() {
  return PadLines({kProductName, "Please select ", "'Open Movie' to start..."}, kStatusLineCount);
}

QStringList MovieStatusLines(uint32_t width, uint32_t height, double fps,
                             const QString& soundDescription) {
  return PadLines({"Source Movie", Format("Size: %ux%u", width, height),
                   Format("Frame Rate: %.1f FPS", fps), soundDescription},
                  kStatusLineCount);
}

QStringList EncodingStatusLines(const RunFigures& f) {
  QStringList lines{Format("Encoding %.0f%%", f.progress),
                    "Time: " + StatusTime(f.elapsedMs) + "s"};
  if (f.progress > 0.0) lines.append("Estimated: " + StatusTime(f.estimatedMs) + "s");
  if (f.averageBitRate != 0.0)
    lines.append(Format("Avg Rate: %.1f kbps", f.averageBitRate / 1000.0));
  if (f.outputBytes != 0) {
    const double kb = static_cast<double>(f.outputBytes) / 1024.0;
    lines.append(f.partCount > 1 ? Format("Size: %.0f KB, %u parts", kb, f.partCount)
                                 : Format("File Size: %.1f KB", kb));
  }
  if (f.averageBitRate != 0.0) {
    lines.append(f.pixelCompression >= 99.0 ? Format("PixCompression: %.0f%%", f.pixelCompression)
                                            : Format("PixCompression: %.1f%%", f.pixelCompression));
  }
  return PadLines(lines, kStatusLineCount);
}

QStringList NoEncodedFigures() {
  return PadLines({"No movie encoded..."}, 4);
}

QStringList EncodedFigures(const RunFigures& f) {
  const double kbps = f.averageBitRate / 1000.0;
  QString rate = Format("Avg Rate: %.1f kbps", kbps);
  if (f.averageBitRate != f.previousBitRate && f.previousBitRate != 0.0) {
    const double change = kbps - f.previousBitRate / 1000.0;
    rate =
        Format("Avg Rate: %.1f kbps (%s%.1f)", kbps, change >= 0.0 ? "+" : "-", std::fabs(change));
  }
  const double kb = static_cast<double>(f.outputBytes) / 1024.0;
  return {rate,
          f.partCount > 1 ? Format("Total Size: %.0f KB, %u parts", kb, f.partCount)
                          : Format("File Size: %.1f KB", kb),
          Format("Player Memory: %.1f MB", static_cast<double>(f.playerMemory) / 1048576.0),
          Format("PixCompression: %.1f%%", f.pixelCompression)};
}

QString MovieTitle(const QString& nameOrPath) {
  return QString(kProductName) + ": " + nameOrPath;
}

QString ProgressTitle(double percent, const QString& moviePath) {
  return Format("%.0f%%", percent) + " - " + MovieTitle(moviePath);
}

}  // namespace quillon
