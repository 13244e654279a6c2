// The one routine through which the window asks its questions and reports its errors, and the
// file dialogs it opens; a test replaces them with scripted answers.
#pragma once

#include <QString>

class QWidget;

namespace quillon {

enum class MessageStyle {
  kWarning,        // errors and warnings: exclamation icon, OK
  kPlain,          // no icon, OK
  kYesNoWarning,   // the multi-part and close questions
  kYesNoQuestion,  // the save question, brought to the front
};

// The button pressed.
enum class MessageAnswer { kOk = 1, kYes = 6, kNo = 7 };

class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual MessageAnswer Message(QWidget* parent, const QString& title, const QString& text,
                                MessageStyle style);
  // Empty when cancelled. filter is in QFileDialog's form ("Name (*.a *.b);;All Files (*)").
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter);
  // Asks before overwriting.
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& folder,
                               const QString& filter);
  // Hands a local file or web address to the desktop's default program; false on failure.
  virtual bool OpenUrl(const QString& url);
};

}  // namespace quillon
