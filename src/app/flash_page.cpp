#include "app/flash_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/action_script_dialog.h"
#include "app/colour_picker.h"
#include "app/help_strip.h"
#include "app/message_box.h"
#include "app/page_layout.h"
#include "app/timeline_page.h"

namespace quillon {

namespace {

const QStringList kTargets = {"_self", "_blank", "_parent", "_top"};
const QString kPlayerRateDefault = QStringLiteral("=FrameRate");
const QString kDontSplit = QStringLiteral("Don't Split");
constexpr int kEndTypeCount = 8;
constexpr int kLinkTypeCount = 3;
constexpr int kBestQuality = 4;

bool IsEmptyLink(const QString& text) {
  return text.isEmpty() || text == QLatin1String(FlashPage::kLinkPlaceholder);
}

QLineEdit* NewLinkBox(QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setPlaceholderText(FlashPage::kLinkPlaceholder);
  box->setMaxLength(static_cast<int>(kLinkMaxLength));
  return box;
}

// The picker's automatic colour ("Background Color") is the player's default, black.
std::uint32_t StoredColour(std::uint32_t colour) {
  return (colour & kAutomaticColour) == kAutomaticColour ? 0x000000u : (colour & 0xFFFFFFu);
}

}  // namespace

FlashPage::FlashPage(QWidget* parent) : SettingsPage(parent), controls_(new QWidget(this)) {
  QGridLayout* columns = NewColumns(controls_);
  QVBoxLayout* left = AddColumn(columns, 0, 57);
  QVBoxLayout* right = AddColumn(columns, 1, 43);

  QGridLayout* grid = nullptr;
  QWidget* loaderCell = NewCell(controls_, &grid);
  loader_ = new QLineEdit(loaderCell);
  loader_->setMaxLength(static_cast<int>(kLoaderMaxLength));
  browse_ = new QPushButton(QStringLiteral("..."), loaderCell);
  browse_->setFixedWidth(browse_->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 18);
  auto* loaderLabel = NewLabel("Preloader/ Overlay:", loaderCell);
  grid->addWidget(loaderLabel, 0, 0);
  grid->addWidget(loader_, 0, 1);
  grid->addWidget(browse_, 0, 2);
  connect(browse_, &QPushButton::clicked, this, &FlashPage::ChooseLoader);
  left->addWidget(loaderCell);

  QList<QLabel*> leftLabels{loaderLabel};
  const auto actionCell = [&](const QString& title, const QStringList& items, QComboBox** type,
                              QLineEdit** link, QComboBox** target) {
    QWidget* cell = NewCell(controls_, &grid);
    *type = new QComboBox(cell);
    (*type)->addItems(items);
    *link = NewLinkBox(cell);
    *target = NewEditableCombo(kTargets, static_cast<int>(kLinkTargetMaxLength), cell);
    auto* label = NewLabel(title, cell);
    leftLabels.push_back(label);
    (*link)->setMinimumWidth(80);
    auto* targetRow = new QHBoxLayout();
    targetRow->addWidget(NewLabel("Target Window:", cell));
    targetRow->addWidget(*target);
    targetRow->addStretch(1);
    grid->addWidget(label, 0, 0);
    grid->addWidget(*type, 0, 1);
    grid->addWidget(*link, 0, 2);
    grid->addLayout(targetRow, 1, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    connect(*type, &QComboBox::currentIndexChanged, this, &FlashPage::UpdateEnabling);
    left->addWidget(cell);
    return cell;
  };
  QWidget* clickCell =
      actionCell("On Click:", {"do nothing", "loadMovie", "getURL"}, &clickType_, &link_, &target_);
  QWidget* endCell = actionCell(
      "On End:",
      {"do nothing", "unload", "stop", "stop2", "loop", "loop begin", "loadMovie", "getURL"},
      &endType_, &endLink_, &endTarget_);
  AlignLabels(leftLabels);
  left->addStretch(1);

  QWidget* variablesCell = NewCell(controls_, &grid);
  variablesButton_ =
      new QPushButton(QStringLiteral("Define Action Script Variables..."), variablesCell);
  grid->addWidget(variablesButton_, 0, 0);
  connect(variablesButton_, &QPushButton::clicked, this, &FlashPage::EditVariables);
  right->addWidget(variablesCell);

  QList<QLabel*> rightLabels;
  const auto rowCell = [&](const QString& title, QWidget* control, const QString& unit) {
    QWidget* cell = NewCell(controls_, &grid);
    control->setParent(cell);
    auto* label = NewLabel(title, cell);
    rightLabels.push_back(label);
    grid->addWidget(label, 0, 0);
    grid->addWidget(control, 0, 1);
    if (!unit.isEmpty()) grid->addWidget(NewLabel(unit, cell), 0, 2);
    grid->setColumnStretch(1, 1);
    right->addWidget(cell);
    return cell;
  };
  background_ = new ColourPicker(controls_);
  background_->SetDefaultText(QStringLiteral("Background Color"));
  connect(background_, &ColourPicker::SelectionEnded, this, &FlashPage::OnBackgroundChosen);
  QWidget* backgroundCell = rowCell("Background Color:", background_, "");
  playerFps_ = NewEditableCombo({kPlayerRateDefault}, 32, controls_);
  QWidget* playerFpsCell = rowCell("Player Frame Rate:", playerFps_, "FPS");
  quality_ = new QComboBox(controls_);
  quality_->addItems({"Best", "High", "Medium (F5)", "Low", "- Don't Set -"});
  QWidget* qualityCell = rowCell("Player Quality:", quality_, "");
  partSize_ =
      NewEditableCombo({kDontSplit, "8192", "16000", "20000", "40000", "60000"}, 32, controls_);
  QWidget* partSizeCell = rowCell("Part Split Size:", partSize_, "KB");
  AlignLabels(rightLabels);
  right->addStretch(1);

  // Kept for the setting, never shown: the players this program targets ignore it.
  hideCursor_ = new QCheckBox(QStringLiteral("Hide Cursor (Flash 5 only):"), controls_);
  hideCursor_->hide();

  strip_ = AttachHelpStrip(
      this, controls_, "Flash player related settings - place the mouse over a setting for help");
  const QString help = QStringLiteral("Help/FlashSettings.htm#");
  strip_->AddRegion(loaderCell, "Preloader or overlay to include on the generated Flash movie",
                    help + "loader", 201);
  strip_->AddRegion(clickCell, "If the user clicks on the Flash movie, jump to...",
                    help + "onclick", 202);
  strip_->AddRegion(endCell, "At the end of the movie, do...", help + "onend", 203);
  strip_->AddRegion(
      variablesCell,
      "Define Action Script variables to be used by the Preloader or Overlay - URLs, text...",
      help + "playervariables", 204);
  strip_->AddRegion(backgroundCell, "Flash player background color", help + "backgroundcolor", 205);
  strip_->AddRegion(
      playerFpsCell,
      "Generated movie frame rate, at least equal to the Frame Rate setting on the Video tab",
      help + "playerfps", 206);
  strip_->AddRegion(
      qualityCell,
      "Flash player quality - will improve image quality, specially for small area movies",
      help + "playerquality", 207);
  strip_->AddRegion(partSizeCell,
                    "Encode into parts smaller than this file size, for lower memory consumption",
                    help + "partsplit", 208);
  UpdateEnabling();
}

void FlashPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts&) {
  settings_ = settings;
  timeline_ = timeline;
  Load();
}

void FlashPage::Load() {
  if (settings_ == nullptr) return;
  const TransportOptions& t = settings_->transport;
  loader_->setText(QString::fromStdString(t.playerLoader));
  variables_ = t.playerVar;
  const int linkType = static_cast<int>(GetPlayerLinkType(t));
  clickType_->setCurrentIndex(linkType < kLinkTypeCount ? linkType : 0);
  link_->setText(QString::fromStdString(t.playerLink));
  target_->setEditText(QString::fromStdString(t.playerLinkTarget));
  const int endType = static_cast<int>(GetPlayerEndType(t));
  endType_->setCurrentIndex(endType < kEndTypeCount ? endType : 0);
  endLink_->setText(QString::fromStdString(t.playerEndLink));
  endTarget_->setEditText(QString::fromStdString(t.playerEndLinkTarget));
  background_->SetColour(t.backColor & 0xFFFFFFu);
  playerFps_->setEditText(t.playerFps > 0 ? QString::asprintf("%g", t.playerFps)
                                          : kPlayerRateDefault);
  quality_->setCurrentIndex(kBestQuality -
                            std::min<int>(static_cast<int>(t.playerQuality), kBestQuality));
  partSize_->setEditText(
      t.partSizeLimit == 0 ? kDontSplit : QString::asprintf("%.0f", t.partSizeLimit / 1024.0));
  hideCursor_->setChecked((t.playerFlags & TransportOptions::kPlayerDisplayCursor) == 0);
  UpdateEnabling();
}

void FlashPage::Store() {
  if (settings_ == nullptr) return;
  TransportOptions& t = settings_->transport;
  t.playerLoader = loader_->text().toStdString();
  t.playerVar = variables_;

  const QString link = link_->text();
  t.playerLink = IsEmptyLink(link) ? std::string() : link.toStdString();
  SetPlayerLinkType(t, IsEmptyLink(link) ? PlayerLinkType::kNone
                                         : static_cast<PlayerLinkType>(clickType_->currentIndex()));
  t.playerLinkTarget = target_->currentText().toStdString();

  const QString endLink = endLink_->text();
  auto end = static_cast<PlayerEndType>(endType_->currentIndex());
  // An end action that needs an address and has none loops instead.
  if ((end == PlayerEndType::kLoadMovie || end == PlayerEndType::kGetUrl) && IsEmptyLink(endLink)) {
    end = PlayerEndType::kLoop;
  }
  SetPlayerEndType(t, end);
  t.playerEndLink = IsEmptyLink(endLink) ? std::string() : endLink.toStdString();
  t.playerEndLinkTarget = endTarget_->currentText().toStdString();

  t.backColor = StoredColour(background_->GetColour());
  t.playerFps =
      static_cast<float>(std::clamp(NumberOr(playerFps_->currentText(), 0.0), 0.0,
                                    static_cast<double>(std::numeric_limits<float>::max())));
  t.playerQuality =
      static_cast<PlayerQuality>(kBestQuality - std::max(quality_->currentIndex(), 0));
  const double kilobytes = std::max(0.0, NumberOr(partSize_->currentText(), 0.0));
  t.partSizeLimit = static_cast<std::uint32_t>(
      std::min(kilobytes * 1024.0, static_cast<double>(std::numeric_limits<std::uint32_t>::max())));
  if (hideCursor_->isChecked()) {
    t.playerFlags &= ~TransportOptions::kPlayerDisplayCursor;
  } else {
    t.playerFlags |= TransportOptions::kPlayerDisplayCursor;
  }
}

void FlashPage::Enable(bool enabled) {
  setEnabled(enabled);
}

void FlashPage::UpdateEnabling() {
  const int click = clickType_->currentIndex();
  link_->setEnabled(click != static_cast<int>(PlayerLinkType::kNone));
  target_->setEnabled(click == static_cast<int>(PlayerLinkType::kGetUrl));
  const auto end = static_cast<PlayerEndType>(endType_->currentIndex());
  endLink_->setEnabled(end == PlayerEndType::kLoadMovie || end == PlayerEndType::kGetUrl);
  endTarget_->setEnabled(end == PlayerEndType::kGetUrl);
}

void FlashPage::ChooseLoader() {
  QSettings preferences(QStringLiteral("Zelmorra Software"),
                        QStringLiteral("Quillon Video Encoder"));
  const QString last = preferences.value(QStringLiteral("LastLoaderFilename")).toString();
  const QString folder = !last.isEmpty() ? QFileInfo(last).absolutePath()
                                         : QCoreApplication::applicationDirPath() +
                                               QStringLiteral("/Preloaders and Overlays");
  const QString path =
      PagePrompts(prompts_).OpenFileName(this, QStringLiteral("Open Preloader/Overlay"), folder,
                                         QStringLiteral("Flash Files (*.swf);;All Files (*)"));
  if (path.isEmpty()) return;
  preferences.setValue(QStringLiteral("LastLoaderFilename"), path);
  loader_->setText(path);
  loader_->setCursorPosition(loader_->text().size());
}

void FlashPage::EditVariables() {
  ActionScriptDialog dialog(this);
  dialog.SetVariables(variables_);
  if (dialog.exec() == QDialog::Accepted) variables_ = dialog.Variables();
}

void FlashPage::OnBackgroundChosen(std::uint32_t colour) {
  if (timeline_ == nullptr) return;
  timeline_->SetBackground(StoredColour(colour));
}

}  // namespace quillon
