// One page of the lower tab control: edits part of the settings records in place.
#pragma once

#include <QString>
#include <QWidget>

#include "app/movie_facts.h"
#include "settings/encoder_settings.h"

namespace quillon {

class TimelinePage;

class SettingsPage : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  // Points the page at the records it edits (owned by the controller) and the movie they apply
  // to, then loads the controls.
  virtual void Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) = 0;
  virtual void Load() = 0;   // controls from the records
  virtual void Store() = 0;  // records from the controls
  virtual void Enable(bool enabled) = 0;

 signals:
  // A help strip click: the main window opens the anchor ("Help/<Page>Settings.htm#name").
  void HelpAnchorRequested(const QString& anchor);
};

}  // namespace quillon
