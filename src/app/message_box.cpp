#include "app/message_box.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace quillon {

MessageAnswer Prompts::Message(QWidget* parent, const QString& title, const QString& text,
                               MessageStyle style) {
  QMessageBox box(parent);
  box.setWindowTitle(title);
  box.setText(text);
  switch (style) {
    case MessageStyle::kWarning:
      box.setIcon(QMessageBox::Warning);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageStyle::kPlain:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageStyle::kYesNoWarning:
      box.setIcon(QMessageBox::Warning);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MessageStyle::kYesNoQuestion:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      if (parent != nullptr) parent->activateWindow();
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes:
      return MessageAnswer::kYes;
    case QMessageBox::No:
      return MessageAnswer::kNo;
    default:
      return MessageAnswer::kOk;
  }
}

QString Prompts::OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                              const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QString Prompts::SaveFileName(QWidget* parent, const QString& title, const QString& folder,
                              const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, folder, filter);
}

bool Prompts::OpenUrl(const QString& url) {
  return QDesktopServices::openUrl(QUrl(url));
}

}  // namespace quillon
