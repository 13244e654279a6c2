// The dialog that edits the Action Script variables handed to a preloader or overlay.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QPlainTextEdit;

namespace quillon {

class ActionScriptDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ActionScriptDialog(QWidget* parent = nullptr);

  // The variables text: "name,value" lines, each ending in a line feed; none when absent.
  void SetVariables(const std::optional<std::string>& variables);
  // What OK stores: every line of the box, the last one included, followed by one line feed;
  // none for an empty box.
  std::optional<std::string> Variables() const;

  QPlainTextEdit* Box() const { return box_; }

 private:
  QPlainTextEdit* box_;
};

}  // namespace quillon
