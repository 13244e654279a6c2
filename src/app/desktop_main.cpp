// quillon-desktop: the main window. The quillon program starts it when given no arguments.
#include <QApplication>

#include "app/main_window.h"
#include "encoder/desktop_launch.h"
#include "settings/paths.h"

int main(int argc, char** argv) {
  if (!quillon::HaveDisplay()) return quillon::ReportNoDisplay();
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Zelmorra Software");
  QApplication::setApplicationName("Quillon Video Encoder");
  quillon::MainWindow window(QString::fromStdString(quillon::ApplicationFolder()));
  window.Start();
  window.show();
  return QApplication::exec();
}
