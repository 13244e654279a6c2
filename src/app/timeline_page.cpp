#include "app/timeline_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/frame_thread.h"
#include "app/frame_view.h"
#include "app/time_text.h"
#include "app/timeline.h"

namespace quillon {

namespace {

constexpr unsigned kBoxTimeShape = 3;  // always hh:mm:ss.cc
constexpr int kDetailLines = 6;
// Duration counts the selection's last 10 ms step as a whole one.
constexpr uint32_t kDurationStep = 10;

QLineEdit* MakeTimeBox(QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setMaxLength(16);
  box->setAlignment(Qt::AlignRight);
  const int textWidth = box->fontMetrics().horizontalAdvance("00:00:00.00");
  box->setFixedWidth(textWidth + 16);
  return box;
}

QString TimeText(uint32_t ms) {
  return QString::fromStdString(FormatTimeText(ms, kBoxTimeShape));
}

uint32_t ReadTime(const QLineEdit* box) {
  return ParseTimeText(box->text().toStdString());
}

}  // namespace

TimelinePage::TimelinePage(QWidget* parent) : QWidget(parent) {
  frameView_ = new FrameView(this);
  timeline_ = new Timeline(this);
  frameThread_ = new FrameThread(this);

  auto* side = new QVBoxLayout;
  side->setSpacing(2);
  for (int i = 0; i < kDetailLines; ++i) {
    auto* line = new QLabel(this);
    line->setMinimumWidth(170);
    line->setTextFormat(Qt::PlainText);
    details_.append(line);
    side->addWidget(line);
  }
  side->addStretch(1);

  progress_ = new QProgressBar(this);
  progress_->setOrientation(Qt::Vertical);
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  progress_->setFixedWidth(14);
  progress_->setStyleSheet(
      "QProgressBar { border: 1px solid #808080; background: white; }"
      "QProgressBar::chunk { background-color: #4080FF; }");
  progress_->setVisible(false);

  auto* top = new QHBoxLayout;
  top->addWidget(frameView_, 1);
  top->addLayout(side);
  top->addWidget(progress_);

  startBox_ = MakeTimeBox(this);
  durationBox_ = MakeTimeBox(this);
  timeBox_ = MakeTimeBox(this);
  auto* boxes = new QHBoxLayout;
  const std::pair<const char*, QLineEdit*> labelled[] = {
      {"Start", startBox_}, {"Duration", durationBox_}, {"Time", timeBox_}};
  for (const auto& [text, box] : labelled) {
    auto* label = new QLabel(text, this);
    label->setBuddy(box);
    boxes->addWidget(label);
    boxes->addWidget(box);
    boxes->addSpacing(12);
  }
  boxes->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(timeline_);
  layout->addLayout(boxes);

  connect(frameThread_, &FrameThread::FrameReady, this,
          [this](const QImage& image, uint32_t) { frameView_->SetPicture(image); });
  connect(timeline_, &Timeline::CursorMoved, this, [this](uint32_t ms) {
    frameThread_->Request(ms, false);
    ShowTimes();
  });
  connect(timeline_, &Timeline::SelectionChanged, this, &TimelinePage::ShowTimes);
  connect(startBox_, &QLineEdit::editingFinished, this, &TimelinePage::OnStartEdited);
  connect(durationBox_, &QLineEdit::editingFinished, this, &TimelinePage::OnDurationEdited);
  connect(timeBox_, &QLineEdit::editingFinished, this, &TimelinePage::OnTimeEdited);

  ShowTimes();
  SetTimelineEnabled(false);
}

TimelinePage::~TimelinePage() {
  // The worker goes first: nothing may be rendered for a page that is half gone.
  delete frameThread_;
  frameThread_ = nullptr;
}

void TimelinePage::AttachMovie(FrameStore* store) {
  frameThread_->Attach(store);
  if (store == nullptr) {
    frameView_->SetPicture(QImage());
  } else {
    frameThread_->Request(timeline_->GetCursor(), true);
  }
}

void TimelinePage::ShowMovie(uint32_t lengthMs, uint32_t selectionStart, uint32_t selectionEnd) {
  timeline_->SetLength(lengthMs);
  timeline_->SetZoom(1000);
  timeline_->SetViewStart(0);
  timeline_->SetSelection(selectionStart, selectionEnd);
  timeline_->SetCursor(timeline_->SelectionStart(), true);
  SetTimelineEnabled(true);
  ShowTimes();
  RequestFrame(true);
}

void TimelinePage::SetPreviewFilter(const FrameOptions& options) {
  frameThread_->SetOptions(options);
  RequestFrame(true);
}

void TimelinePage::SetBackground(uint32_t rgb) {
  frameView_->SetBackground(rgb);
}

void TimelinePage::RequestFrame(bool force) {
  frameThread_->Request(timeline_->GetCursor(), force);
}

void TimelinePage::SetDetailLines(const QStringList& lines) {
  for (int i = 0; i < details_.size(); ++i)
    details_[i]->setText(i < lines.size() ? lines[i] : QString());
}

void TimelinePage::SetProgress(int percent) {
  progress_->setValue(std::clamp(percent, 0, 100));
}

void TimelinePage::SetProgressVisible(bool visible) {
  progress_->setVisible(visible);
}

void TimelinePage::SetTimelineEnabled(bool enabled) {
  timeline_->setEnabled(enabled);
  startBox_->setEnabled(enabled);
  durationBox_->setEnabled(enabled);
  timeBox_->setEnabled(enabled);
}

uint32_t TimelinePage::SelectionStart() const {
  return timeline_->SelectionStart();
}

uint32_t TimelinePage::SelectionEnd() const {
  return timeline_->SelectionEnd();
}

uint32_t TimelinePage::Cursor() const {
  return timeline_->GetCursor();
}

void TimelinePage::SetCursor(uint32_t ms, bool scroll) {
  timeline_->SetCursor(ms, scroll);
}

void TimelinePage::SelectAll() {
  timeline_->SetSelection(0, timeline_->Length() - 1);
}

void TimelinePage::ShowTimes() {
  const uint32_t start = timeline_->SelectionStart();
  const uint32_t end = timeline_->SelectionEnd();
  startBox_->setText(TimeText(start));
  durationBox_->setText(TimeText(end - start + kDurationStep));
  timeBox_->setText(TimeText(timeline_->GetCursor()));
}

void TimelinePage::OnStartEdited() {
  // editingFinished also comes when the box merely loses focus.
  if (!startBox_->isModified()) return;
  const uint32_t last = timeline_->Length() - 1;
  const uint32_t span = timeline_->SelectionEnd() - timeline_->SelectionStart();
  const uint32_t start = std::min(ReadTime(startBox_), last - std::min(span, last));
  timeline_->SetSelection(start, start + span);
  timeline_->SetCursor(timeline_->SelectionStart(), true);
  RequestFrame(false);
  ShowTimes();
}

void TimelinePage::OnDurationEdited() {
  if (!durationBox_->isModified()) return;
  const int64_t start = timeline_->SelectionStart();
  const int64_t last = int64_t{timeline_->Length()} - 1;
  const int64_t end = std::clamp<int64_t>(start + ReadTime(durationBox_) - kDurationStep,
                                          std::min(start + 1, last), last);
  timeline_->SetSelection(static_cast<uint32_t>(start), static_cast<uint32_t>(end));
  timeline_->SetCursor(timeline_->SelectionEnd(), true);
  RequestFrame(false);
  ShowTimes();
}

void TimelinePage::OnTimeEdited() {
  if (!timeBox_->isModified()) return;
  timeline_->SetCursor(ReadTime(timeBox_), true);
  RequestFrame(false);
  ShowTimes();
}

}  // namespace quillon
