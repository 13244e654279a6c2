#include "app/timeline_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/time_text.h"

namespace quillon {

TimelinePage::TimelinePage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  picture_ = new QLabel(this);
  picture_->setMinimumSize(320, 240);
  picture_->setAutoFillBackground(true);
  SetBackground(0x000000);
  layout->addWidget(picture_, 1);
  auto* side = new QVBoxLayout;
  details_ = new QLabel(this);
  details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  details_->setMinimumWidth(170);
  side->addWidget(details_, 1);
  times_ = new QLabel(this);
  side->addWidget(times_);
  layout->addLayout(side);
  progress_ = new QProgressBar(this);
  progress_->setOrientation(Qt::Vertical);
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  progress_->setVisible(false);
  layout->addWidget(progress_);
  SetTimelineEnabled(false);
}

void TimelinePage::AttachMovie(FrameStore* store) { store_ = store; }

void TimelinePage::ShowMovie(uint32_t lengthMs, uint32_t selectionStart, uint32_t selectionEnd) {
  length_ = std::max<uint32_t>(lengthMs, 1);
  selectionEnd_ = std::min(selectionEnd, length_ - 1);
  selectionStart_ = std::min(selectionStart, selectionEnd_);
  cursor_ = selectionStart_;
  SetCursor(cursor_, false);
}

void TimelinePage::SetPreviewFilter(const FrameOptions&) {}

void TimelinePage::SetBackground(uint32_t rgb) {
  QPalette palette = picture_->palette();
  palette.setColor(QPalette::Window, QColor::fromRgb(rgb));
  picture_->setPalette(palette);
}

void TimelinePage::RequestFrame(bool) {}

void TimelinePage::SetDetailLines(const QStringList& lines) { details_->setText(lines.join('\n')); }

void TimelinePage::SetProgress(int percent) { progress_->setValue(std::clamp(percent, 0, 100)); }

void TimelinePage::SetProgressVisible(bool visible) { progress_->setVisible(visible); }

void TimelinePage::SetTimelineEnabled(bool enabled) { times_->setEnabled(enabled); }

uint32_t TimelinePage::SelectionStart() const { return selectionStart_; }

uint32_t TimelinePage::SelectionEnd() const { return selectionEnd_; }

uint32_t TimelinePage::Cursor() const { return cursor_; }

void TimelinePage::SetCursor(uint32_t ms, bool) {
  cursor_ = std::min(ms, length_ - 1);
  times_->setText(QString::fromStdString("Start " + FormatTimeText(selectionStart_, 3) + "  Time " +
                                         FormatTimeText(cursor_, 3)));
}

void TimelinePage::SelectAll() {
  selectionStart_ = 0;
  selectionEnd_ = length_ - 1;
  SetCursor(cursor_, false);
}

}  // namespace quillon
