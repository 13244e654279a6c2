#include "app/flash_page.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillon {

FlashPage::FlashPage(QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(tr("Flash settings"), this);
  label_->setAlignment(Qt::AlignCenter);
  layout->addWidget(label_);
}

void FlashPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) {
  settings_ = settings;
  timeline_ = timeline;
  facts_ = facts;
  Load();
}

void FlashPage::Load() {}

void FlashPage::Store() {}

void FlashPage::Enable(bool enabled) { setEnabled(enabled); }

}  // namespace quillon
