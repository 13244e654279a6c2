// The About box: the program, its version and the libraries it stands on with their licences.
#pragma once

#include <QDialog>
#include <QString>

namespace quillon {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);

  // The box's text (rich text), for the box and its test.
  static QString Text();
};

}  // namespace quillon
