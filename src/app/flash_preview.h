// The upper "Encoded Flash" page: plays the encoded movie and shows its figures.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>

class QLabel;

namespace quillon {

class FlashPreview : public QWidget {
  Q_OBJECT
 public:
  explicit FlashPreview(QWidget* parent = nullptr);

  bool LoadMovie(const QString& path, uint32_t backgroundRgb);  // empty path: none
  void Unload();
  void Play();
  void Stop();
  void Rewind();
  void SetFigures(const QStringList& lines);  // the four lines under "Encoded Flash Movie"

 signals:
  void HelpRequested(const QString& page);

 private:
  QString path_;
  uint32_t background_ = 0;
  QLabel* movie_ = nullptr;
  QLabel* figures_ = nullptr;
};

}  // namespace quillon
