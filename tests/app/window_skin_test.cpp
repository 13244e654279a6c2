#include "app/window_skin.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QToolButton>

namespace quillon {
namespace {

// A 100x40 bitmap whose left quarter is the transparent magenta.
QString WriteSkin(const QTemporaryDir& dir) {
  QImage image(100, 40, QImage::Format_RGB32);
  image.fill(QColor(0x40, 0x60, 0x80));
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 25; ++x) image.setPixel(x, y, 0xFFFF00FF);
  }
  const QString path = dir.path() + "/skin.bmp";
  EXPECT_TRUE(image.save(path, "BMP"));
  return path;
}

TEST(WindowSkinTest, MagentaIsCutFromTheStretchedBitmap) {
  QTemporaryDir dir;
  const QPixmap bitmap(WriteSkin(dir));
  const QPixmap stretched = WindowSkin::Stretched(bitmap, QSize(400, 80));
  const QRegion visible = WindowSkin::VisibleRegion(stretched);
  EXPECT_FALSE(visible.contains(QPoint(10, 40)));
  EXPECT_FALSE(visible.contains(QPoint(99, 79)));
  EXPECT_TRUE(visible.contains(QPoint(100, 0)));
  EXPECT_TRUE(visible.contains(QPoint(399, 79)));
}

TEST(WindowSkinTest, WindowBecomesFramelessOnlyWhenTheBitmapLoads) {
  QTemporaryDir dir;
  QMainWindow plain;
  EXPECT_EQ(WindowSkin::Apply(&plain, dir.path() + "/missing.bmp"), nullptr);
  EXPECT_FALSE(plain.windowFlags() & Qt::FramelessWindowHint);

  QMainWindow skinned;
  skinned.menuBar()->addMenu("&File");
  const auto skin = WindowSkin::Apply(&skinned, WriteSkin(dir));
  ASSERT_NE(skin, nullptr);
  EXPECT_TRUE(skinned.windowFlags() & Qt::FramelessWindowHint);
  ASSERT_NE(skinned.findChild<QToolButton*>("skinClose"), nullptr);
  EXPECT_EQ(skinned.findChild<QToolButton*>("skinMinimise")->text(), "V");
  skinned.resize(200, 100);
  skinned.show();  // a hidden window gets its resize only when shown
  EXPECT_FALSE(skinned.mask().contains(QPoint(5, 50)));
  EXPECT_TRUE(skinned.mask().contains(QPoint(150, 50)));
}

}  // namespace
}  // namespace quillon
