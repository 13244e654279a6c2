#include "app/advanced_page.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillon {

AdvancedPage::AdvancedPage(QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  label_ = new QLabel(tr("Advanced settings"), this);
  label_->setAlignment(Qt::AlignCenter);
  layout->addWidget(label_);
}

void AdvancedPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) {
  settings_ = settings;
  timeline_ = timeline;
  facts_ = facts;
  Load();
}

void AdvancedPage::Load() {}

void AdvancedPage::Store() {}

void AdvancedPage::Enable(bool enabled) { setEnabled(enabled); }

}  // namespace quillon
