#include "app/flash_preview.h"

#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

namespace quillon {

FlashPreview::FlashPreview(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  movie_ = new QLabel(this);
  movie_->setAlignment(Qt::AlignCenter);
  movie_->setMinimumSize(320, 200);
  layout->addWidget(movie_, 1);
  auto* title = new QLabel(tr("Encoded Flash Movie"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);
  figures_ = new QLabel(this);
  layout->addWidget(figures_);
  SetFigures({tr("No movie encoded..."), QString(), QString(), QString()});
}

bool FlashPreview::LoadMovie(const QString& path, uint32_t backgroundRgb) {
  path_ = path;
  background_ = backgroundRgb;
  movie_->setText(path.isEmpty() ? QString() : QFileInfo(path).fileName());
  return true;
}

void FlashPreview::Unload() {
  path_.clear();
  movie_->clear();
}

void FlashPreview::Play() {}

void FlashPreview::Stop() {}

void FlashPreview::Rewind() {}

void FlashPreview::SetFigures(const QStringList& lines) { figures_->setText(lines.join('\n')); }

}  // namespace quillon
