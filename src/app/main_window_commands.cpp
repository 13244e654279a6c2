// The window's commands that open, encode and save: movies, settings files and presets.
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>

#include "app/encode_checks.h"
#include "app/flash_preview.h"
#include "app/main_window.h"
#include "app/preferences_dialog.h"
#include "app/preset_settings_dialog.h"
#include "app/settings_page.h"
#include "app/status_text.h"
#include "app/timeline_page.h"
#include "audio/audio_store.h"
#include "encoder/encoder_controller.h"
#include "video/frame_store.h"

namespace quillon {

const char* const kMovieFileFilter =
    "Video Files (*.avi *.mpg *.mpeg *.mov *.qt *.mp4 *.m4v *.mkv *.webm *.ogv *.flv *.ts "
    "*.wmv);;Audio Files (*.wav *.aif *.aiff *.mp3);;Image Files (*.png *.bmp *.jpg *.jpeg "
    "*.pict *.gif);;All Files (*)";

namespace {

constexpr const char* kFlashFileFilter = "Flash Files (*.swf);;All Files (*)";
constexpr const char* kSettingsFileFilter = "Settings Files (*.settings);;All Files (*)";

// The wait cursor for the length of a command that works on the window thread.
class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void MainWindow::BindPages() {
  MovieFacts facts;
  if (movieOpen_) {
    AudioStore* audio = controller_->Audio();
    facts.open = true;
    facts.fps = controller_->SourceFps();
    facts.width = controller_->SourceWidth();
    facts.height = controller_->SourceHeight();
    facts.hasSound = audio != nullptr && audio->IsOpened();
    facts.channels = controller_->SoundChannels();
    facts.sampleRate = facts.hasSound ? controller_->SoundRate() : 44100;
    facts.mp3Available = audio != nullptr && audio->IsMP3Available();
  }
  for (SettingsPage* page : pages_) page->Bind(&controller_->Settings(), timeline_, facts);
}

void MainWindow::StorePages() {
  for (SettingsPage* page : pages_) page->Store();
}

bool MainWindow::OpenMovie(const QString& givenPath) {
  if (state_ == UiState::kEncoding) return false;
  preview_->Stop();
  AskToSaveUnsaved();
  QString path = givenPath;
  if (path.isEmpty()) {
    path = prompts_->OpenFileName(this, tr("Open Movie"),
                                  RememberedFolder(kLastOpenFilename, QString()), kMovieFileFilter);
    if (path.isEmpty()) return false;
  }
  WaitCursor wait;
  const QFileInfo file(path);
  if (!file.isFile() || !file.isReadable()) {
    Message("Error Opening Movie", "Unable to Open File - It doesn't look like a Movie");
    SetUiState(state_);
    RefreshStatus();
    return false;
  }
  SaveRememberedName(kLastOpenFilename, path);
  const bool wasMp3 =
      movieOpen_ && (controller_->Settings().audio.flags & AudioOptions::kCompressionMp3) != 0;
  if (movieOpen_) StorePages();

  // The preview worker must stop reading the old movie before the controller replaces it.
  timeline_->AttachMovie(nullptr);
  if (!controller_->OpenMovie(path.toStdString())) {
    timeline_->AttachMovie(controller_->Video());
    ShowControllerMessage();
    return false;
  }
  // The Audio page may have fallen back to ADPCM for the previous, silent movie.
  if (wasMp3) controller_->Settings().audio.flags |= AudioOptions::kCompressionMp3;
  movieOpen_ = true;
  unsaved_ = false;
  setWindowTitle(MovieTitle(file.fileName()));
  movieLengthMs_ = controller_->Video() != nullptr ? controller_->Video()->SourceDurationMs() : 0;
  BindPages();
  const EncoderSettings& settings = controller_->Settings();
  timeline_->AttachMovie(controller_->Video());
  timeline_->SetPreviewFilter(settings.frame);
  timeline_->SetBackground(settings.transport.backColor);
  timeline_->ShowMovie(movieLengthMs_, 0, prefs_.defaultDurationMs - 1);
  timeline_->RequestFrame(true);
  preview_->Unload();
  preview_->SetFigures(NoEncodedFigures());
  SetUiState(UiState::kMovieOpen);
  RefreshStatus();
  return true;
}

void MainWindow::EncodeOrCancel() {
  if (state_ == UiState::kEncoding) {
    cancelRequested_ = true;
    return;
  }
  if (!movieOpen_) return;
  StorePages();
  const AudioStore* audio = controller_->Audio();
  if (AudioExceedsBitRateLimit(controller_->Settings(), audio != nullptr && audio->IsOpened(),
                               controller_->SoundChannels())) {
    Message("Audio Bit Rate is greater than Bit Rate Limit",
            "Your current Audio Bit Rate is higher than the Bit Rate Limit you have selected.\n"
            "Please lower your Audio Bit Rate or increase the Bit Rate Limit.");
    return;
  }
  runCursorMs_ = timeline_->Cursor();
  SetUiState(UiState::kEncoding);
  timeline_->SetProgress(0);
  timeline_->SetProgressVisible(true);
  timeline_->SetDetailLines({"Encoding...", {}, {}, {}, {}, {}});
  preview_->SetFigures(NoEncodedFigures());
  unsaved_ = false;
  presetLabel_.clear();

  const uint32_t start = timeline_->SelectionStart();
  const uint32_t duration = timeline_->SelectionEnd() - start + 1;
  if (!controller_->PrepareRun(start, duration)) {
    ShowControllerMessage();
    AbandonEncoding();
    return;
  }
  if (NeedsMultiPartQuestion(controller_->PlayerFrameCount(),
                             controller_->Settings().transport.partSizeLimit) &&
      Message("Selection Needs Multiple Part Encode", MultiPartQuestionText(duration),
              MessageStyle::kYesNoWarning) != MessageAnswer::kYes) {
    AbandonEncoding();
    return;
  }
  setCursor(Qt::BusyCursor);
  cancelRequested_ = false;
  Poll();
  if (state_ == UiState::kEncoding) pollTimer_->start();
}

void MainWindow::Poll() {
  if (!controller_->UpdateProgress()) {
    FinishEncoding();
    return;
  }
  if (cancelRequested_) {
    // Ask the encoding thread to stop and come back on the next tick until it has.
    if (controller_->State() == RunState::kRunning) {
      controller_->RequestCancel();
      (void)controller_->Step();
    } else {
      controller_->StopRun();
    }
    if (!controller_->IsActive()) AbandonEncoding();
    return;
  }
  const bool going = controller_->Step();
  if (going) RefreshProgress();
  if (!going || !controller_->IsActive()) FinishEncoding();
}

void MainWindow::RefreshProgress() {
  const double percent = controller_->Progress();
  timeline_->SetProgress(static_cast<int>(percent));
  setWindowTitle(ProgressTitle(percent, MoviePath()));
  const double duration = controller_->SelectionDurationMs();
  timeline_->SetCursor(
      controller_->SelectionStartMs() + static_cast<uint32_t>(duration * percent / 100.0), true);
  RefreshStatus();
}

void MainWindow::FinishEncoding() {
  pollTimer_->stop();
  if (controller_->GetMessage() != nullptr || controller_->PartCount() == 0) {
    ShowControllerMessage();
    AbandonEncoding();
    return;
  }
  RefreshProgress();
  preview_->SetFigures(EncodedFigures(RunFigures::From(*controller_)));
  unsaved_ = true;
  timeline_->SetProgress(100);
  timeline_->SetProgressVisible(false);
  controller_->StopRun();
  unsetCursor();
  setWindowTitle(MovieTitle(MoviePath()));
  SetUiState(UiState::kMovieGenerated);
  RefreshStatus();
  if (prefs_.autoSave) SaveFlash();
  preview_->LoadMovie(QString::fromStdString(controller_->PreviewPath()),
                      controller_->Settings().transport.backColor);
  if (prefs_.autoPlay) {
    preview_->Play();
  } else {
    preview_->Stop();
    preview_->Rewind();
  }
  timeline_->SetProgress(0);
  timeline_->SetCursor(runCursorMs_, true);
  Q_EMIT EncodingEnded(true);
  if (closeAfterRun_) {
    FinishClose();
    close();
  }
}

void MainWindow::AbandonEncoding() {
  pollTimer_->stop();
  controller_->StopRun();
  unsetCursor();
  setWindowTitle(MovieTitle(MoviePath()));
  timeline_->SetProgress(0);
  timeline_->SetProgressVisible(false);
  timeline_->SetCursor(runCursorMs_, true);
  SetUiState(UiState::kMovieOpen);
  RefreshStatus();
  Q_EMIT EncodingEnded(false);
  if (closeAfterRun_) {
    FinishClose();
    close();
  }
}

void MainWindow::SaveFlash() {
  if (state_ != UiState::kMovieGenerated) return;
  if (controller_->LastDestination().empty() || controller_->PreviewPath().empty()) {
    SaveFlashAs();
    return;
  }
  SaveToLastDestination();
}

void MainWindow::SaveFlashAs() {
  if (state_ != UiState::kMovieGenerated) return;
  const QString path = AskSaveName(tr("Save Flash"), kLastSaveFilename, kFlashFileFilter, ".swf");
  if (path.isEmpty()) return;
  controller_->SetLastDestination(path.toStdString());
  SaveToLastDestination();
}

QString MainWindow::AskSaveName(const QString& title, const char* remembered, const char* filter,
                                const char* extension) {
  preview_->Stop();
  QString path =
      prompts_->SaveFileName(this, title, RememberedFolder(remembered, applicationFolder_), filter);
  if (path.isEmpty()) return path;
  // A name without an extension gets the file type's own.
  if (!QFileInfo(path).fileName().contains('.')) path += extension;
  SaveRememberedName(remembered, path);
  return path;
}

void MainWindow::SaveToLastDestination() {
  preview_->Stop();
  WaitCursor wait;
  if (controller_->SaveMovie()) {
    unsaved_ = false;
  } else {
    ShowControllerMessage();
  }
}

bool MainWindow::OpenSettings(const QString& givenPath) {
  QString path = givenPath;
  if (path.isEmpty()) {
    preview_->Stop();
    path = prompts_->OpenFileName(this, tr("Open Settings"),
                                  RememberedFolder(kLastSettingsFilename, applicationFolder_),
                                  kSettingsFileFilter);
    if (path.isEmpty()) return false;
    SaveRememberedName(kLastSettingsFilename, path);
  }
  if (!controller_->LoadSettings(path.toStdString())) {
    ShowControllerMessage();
    return false;
  }
  timeline_->SetPreviewFilter(controller_->Settings().frame);
  timeline_->SetBackground(controller_->Settings().transport.backColor);
  // A preset or the defaults must never be overwritten by Save Settings.
  settingsFile_ = givenPath.isEmpty() ? path : QString();
  presetLabel_.clear();
  BindPages();
  timeline_->RequestFrame(true);
  upperTabs_->setCurrentWidget(timeline_);
  return true;
}

void MainWindow::SaveSettings() {
  if (settingsFile_.isEmpty()) {
    SaveSettingsAs();
    return;
  }
  preview_->Stop();
  StorePages();
  if (!controller_->SaveSettings(settingsFile_.toStdString())) ShowControllerMessage();
}

void MainWindow::SaveSettingsAs() {
  const QString path =
      AskSaveName(tr("Save Settings"), kLastSettingsFilename, kSettingsFileFilter, ".settings");
  if (path.isEmpty()) return;
  settingsFile_ = path;
  StorePages();
  if (!controller_->SaveSettings(path.toStdString())) ShowControllerMessage();
}

void MainWindow::ChoosePreset() {
  if (state_ != UiState::kMovieOpen && state_ != UiState::kMovieGenerated) return;
  preview_->Stop();
  PresetSettingsDialog dialog(applicationFolder_ + "presets/", this);
  if (dialog.exec() != QDialog::Accepted || dialog.ChosenPath().isEmpty()) return;
  if (OpenSettings(dialog.ChosenPath())) presetLabel_ = dialog.ChosenName();
}

void MainWindow::EditPreferences() {
  if (state_ == UiState::kEncoding) return;
  preview_->Stop();
  PreferencesDialog dialog(this, prompts_.get());
  dialog.SetValues(prefs_);
  if (dialog.exec() != QDialog::Accepted) return;
  const Preferences chosen = dialog.Values(prefs_);
  prefs_.autoPlay = chosen.autoPlay;
  prefs_.autoSave = chosen.autoSave;
  prefs_.autoOpenLastMovie = chosen.autoOpenLastMovie;
  const uint32_t durationMs = ParseDefaultDuration(dialog.DurationText());
  if (durationMs == 0) {
    Message("Default Duration Error", "The Default Duration must be a number greater than 0",
            MessageStyle::kPlain);
    return;
  }
  // Priority and skin take effect at the next start.
  prefs_.encodingPriority = chosen.encodingPriority;
  prefs_.defaultDurationMs = durationMs;
  prefs_.useSkin = chosen.useSkin;
  prefs_.SaveAccepted();
}

void MainWindow::AskToSaveUnsaved() {
  const uint32_t defaultEnd =
      std::min(prefs_.defaultDurationMs - 1, movieLengthMs_ > 0 ? movieLengthMs_ - 1 : 0);
  const bool defaultSelection =
      timeline_->SelectionStart() == 0 && timeline_->SelectionEnd() == defaultEnd;
  if (unsaved_ && !defaultSelection &&
      Message("Save Generated Movie?",
              "The generated Flash movie was not saved - would you like to save it now?",
              MessageStyle::kYesNoQuestion) == MessageAnswer::kYes) {
    SaveFlash();
  }
  unsaved_ = false;
}

}  // namespace quillon
