#include "app/action_script_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace quillon {

ActionScriptDialog::ActionScriptDialog(QWidget* parent)
    : QDialog(parent), box_(new QPlainTextEdit(this)) {
  setWindowTitle(QStringLiteral("Define Action Script Variables"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("Variables:"), this);
  label->setBuddy(box_);
  layout->addWidget(label);
  box_->setLineWrapMode(QPlainTextEdit::NoWrap);
  box_->setMinimumSize(420, 160);
  layout->addWidget(box_, 1);
  auto* hint = new QLabel(
      QStringLiteral("On each line, enter a comma separated pair of name,value to be defined as an "
                     "Action Script variable - for example: Title, Moulin Rouge\n"
                     "To perform line breaks on the values, enter \\n instead."),
      this);
  hint->setWordWrap(true);
  layout->addWidget(hint);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void ActionScriptDialog::SetVariables(const std::optional<std::string>& variables) {
  QString text = variables ? QString::fromStdString(*variables) : QString();
  // Every stored line ends in a line feed; shown without the last one, so that OK on an
  // unchanged box gives back the same text instead of one more empty line each time.
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  box_->setPlainText(text);
}

std::optional<std::string> ActionScriptDialog::Variables() const {
  QString text = box_->toPlainText();
  if (text.isEmpty()) return std::nullopt;
  text.remove(QLatin1Char('\r'));
  return text.toStdString() + '\n';
}

}  // namespace quillon
