#include "app/audio_page.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillon {

AudioPage::AudioPage(QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(tr("Audio settings"), this);
  label_->setAlignment(Qt::AlignCenter);
  layout->addWidget(label_);
}

void AudioPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) {
  settings_ = settings;
  timeline_ = timeline;
  facts_ = facts;
  Load();
}

void AudioPage::Load() {}

void AudioPage::Store() {}

void AudioPage::Enable(bool enabled) { setEnabled(enabled); }

}  // namespace quillon
