// What the desktop tests share: scripted answers for the window's questions and dialogs, the
// folder the built program runs from, and generated clips.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "support/test_clips.h"

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace quillon::testing {

class ScriptedPrompts : public Prompts {
 public:
  struct Shown {
    QString title;
    QString text;
    MessageStyle style;
  };

  MessageAnswer Message(QWidget*, const QString& title, const QString& text,
                        MessageStyle style) override {
    if (!ignoredTitles.contains(title)) shown->push_back({title, text, style});
    if (answers.empty()) {
      return style == MessageStyle::kYesNoWarning || style == MessageStyle::kYesNoQuestion
                 ? MessageAnswer::kNo
                 : MessageAnswer::kOk;
    }
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
    return TakeName();
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
    return TakeName();
  }
  bool OpenUrl(const QString& url) override {
    opened->append(url);
    return openSucceeds;
  }

  // Owned by the test, so that they outlive the window that owns the prompts.
  std::vector<Shown>* shown = nullptr;
  QStringList* opened = nullptr;
  QStringList ignoredTitles;  // answered but not recorded
  std::deque<MessageAnswer> answers;
  std::deque<QString> fileNames;  // answers of the file dialogs, in order; empty = cancel
  bool openSucceeds = true;

 private:
  QString TakeName() {
    if (fileNames.empty()) return QString();
    QString name = fileNames.front();
    fileNames.pop_front();
    return name;
  }
};

// Where the build puts the program, its presets and help pages (with a trailing "/").
inline QString ProgramFolder() {
  return QString::fromUtf8(QUILLON_TEST_BINARY_DIR "/src/app/");
}

// 4 s of 160x120 at 12 fps with a stereo tone.
inline std::string ShortClip() {
  return MakeClip(ClipFolder("app"), "short.mp4",
                  "-f lavfi -i testsrc=size=160x120:rate=12:duration=4 -f lavfi -i "
                  "sine=frequency=330:sample_rate=22050:duration=4 -ac 2 -pix_fmt yuv420p "
                  "-c:v libx264 -preset ultrafast -c:a aac -shortest");
}

// 60 s of busy 320x240 pictures: long enough to be cancelled while it encodes.
inline std::string LongClip() {
  return MakeClip(ClipFolder("app"), "long.mp4",
                  "-f lavfi -i testsrc2=size=320x240:rate=25:duration=60 -pix_fmt yuv420p "
                  "-c:v libx264 -preset ultrafast");
}

// 700 s at 25 fps, tiny: 17500 frames, more than the player takes in one part.
inline std::string SevenHundredSecondClip() {
  return MakeClip(ClipFolder("app"), "long700.mp4",
                  "-f lavfi -i color=c=gray:size=32x24:rate=25:duration=700 -pix_fmt yuv420p "
                  "-c:v libx264 -preset ultrafast -g 250");
}

}  // namespace quillon::testing
