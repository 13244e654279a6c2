#include "app/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QtGlobal>

namespace quillon {

namespace {

struct Library {
  const char* name;
  const char* use;
  const char* licence;
};

constexpr Library kLibraries[] = {
    {"FFmpeg", "reads the movies and their sound",
     "LGPL 2.1 or later (GPL 2 or later where built with its GPL parts)"},
    {"libjpeg-turbo", "JPEG bitmaps", "IJG License, Modified BSD License and zlib License"},
    {"zlib", "lossless bitmaps", "zlib License"},
    {"LAME", "MP3 sound, loaded when installed", "LGPL 2 or later"},
    {"Qt", "the window", "LGPL 3"},
    {"Ruffle", "plays the encoded movie", "MIT License or Apache License 2.0"},
};

}  // namespace

QString AboutDialog::Text() {
  QString text = QString(
                     "<h3>Quillon Video Encoder</h3><p>Version %1</p>"
                     "<p>Converts movies into Flash (SWF) movies.</p>"
                     "<p>Built on:</p><table>")
                     .arg(QUILLON_VERSION_TEXT);
  for (const Library& library : kLibraries) {
    QString name = library.name;
    if (name == "Qt") name += QString(" ") + qVersion();
    text += QString("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2 &mdash; <i>%3</i></td></tr>")
                .arg(name, library.use, library.licence);
  }
  text += "</table><p>&copy; Zelmorra Software</p>";
  return text;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("About Quillon Video"));
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(windowIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);
  row->addWidget(icon);
  auto* label = new QLabel(Text(), this);
  label->setTextFormat(Qt::RichText);
  label->setWordWrap(true);
  label->setFixedWidth(440);
  row->addWidget(label, 1);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &AboutDialog::accept);
  layout->addWidget(buttons);
  // Wrapped text needs the box to follow the label's height for its width.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace quillon
