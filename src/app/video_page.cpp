#include "app/video_page.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillon {

VideoPage::VideoPage(QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(tr("Video settings"), this);
  label_->setAlignment(Qt::AlignCenter);
  layout->addWidget(label_);
}

void VideoPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) {
  settings_ = settings;
  timeline_ = timeline;
  facts_ = facts;
  Load();
}

void VideoPage::Load() {}

void VideoPage::Store() {}

void VideoPage::Enable(bool enabled) { setEnabled(enabled); }

}  // namespace quillon
