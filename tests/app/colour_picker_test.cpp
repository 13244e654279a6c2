#include "app/colour_picker.h"

#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>

namespace quillon {
namespace {

struct Spies {
  explicit Spies(ColourPicker* p)
      : changed(p, &ColourPicker::SelectionChanged),
        opened(p, &ColourPicker::PopupOpened),
        closed(p, &ColourPicker::PopupClosed),
        ended(p, &ColourPicker::SelectionEnded),
        cancelled(p, &ColourPicker::SelectionCancelled) {}
  QSignalSpy changed, opened, closed, ended, cancelled;
};

std::uint32_t ColourOf(const QSignalSpy& spy, int index) {
  return spy.at(index).at(0).value<std::uint32_t>();
}

TEST(ColourPickerTest, KeyboardWalksThroughDefaultGridAndCustomButton) {
  ColourPicker picker;
  picker.SetControlId(42);
  picker.SetColour(0x000000);  // "Black", the first swatch
  Spies spies(&picker);
  picker.OpenPopup();
  ColourPopup* popup = picker.Popup();
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(spies.opened.count(), 1);
  EXPECT_EQ(popup->CurrentItem(), 0);
  QTest::keyClick(popup, Qt::Key_Up);
  EXPECT_EQ(popup->CurrentItem(), ColourPopup::kDefaultItem);
  EXPECT_EQ(ColourOf(spies.changed, 0), kAutomaticColour);
  QTest::keyClick(popup, Qt::Key_Down);
  QTest::keyClick(popup, Qt::Key_Down);
  EXPECT_EQ(popup->CurrentItem(), 8);
  QTest::keyClick(popup, Qt::Key_Left);  // wraps to the end of the previous row
  EXPECT_EQ(popup->CurrentItem(), 7);
  QTest::keyClick(popup, Qt::Key_Right);
  QTest::keyClick(popup, Qt::Key_Right);
  EXPECT_EQ(popup->CurrentItem(), 9);
  for (int i = 0; i < 4; ++i) QTest::keyClick(popup, Qt::Key_Down);
  EXPECT_EQ(popup->CurrentItem(), ColourPopup::kCustomItem);
  // The custom button reports the colour the popup opened with.
  EXPECT_EQ(ColourOf(spies.changed, spies.changed.count() - 1), 0x000000u);
  QTest::keyClick(popup, Qt::Key_Up);
  QTest::keyClick(popup, Qt::Key_Right);
  EXPECT_EQ(popup->CurrentItem(), 33);
  QTest::keyClick(popup, Qt::Key_Return);
  EXPECT_EQ(picker.GetColour(), 0xD2B48Cu);  // "Tan"
  ASSERT_EQ(spies.closed.count(), 1);
  ASSERT_EQ(spies.ended.count(), 1);
  EXPECT_EQ(ColourOf(spies.ended, 0), 0xD2B48Cu);
  EXPECT_EQ(spies.ended.at(0).at(1).toInt(), 42);
  EXPECT_EQ(spies.cancelled.count(), 0);
}

TEST(ColourPickerTest, EscapeRestoresTheOpeningColourAndSignalsClosedThenCancelled) {
  ColourPicker picker;
  picker.SetTrackSelection(true);
  picker.SetColour(0xFF0000);
  Spies spies(&picker);
  std::vector<QString> order;
  QObject::connect(&picker, &ColourPicker::PopupClosed, [&] { order.push_back("closed"); });
  QObject::connect(&picker, &ColourPicker::SelectionCancelled,
                   [&] { order.push_back("cancelled"); });
  picker.OpenPopup();
  ColourPopup* popup = picker.Popup();
  EXPECT_EQ(popup->CurrentItem(), 16);
  QTest::keyClick(popup, Qt::Key_Right);
  QTest::keyClick(popup, Qt::Key_Down);
  EXPECT_EQ(picker.GetColour(), kPaletteColours[25].rgb);  // tracking shows the hovered colour
  QTest::keyClick(popup, Qt::Key_Escape);
  EXPECT_EQ(picker.GetColour(), 0xFF0000u);
  EXPECT_EQ((order == std::vector<QString>{"closed", "cancelled"}), true);
  EXPECT_EQ(ColourOf(spies.cancelled, 0), 0xFF0000u);
  EXPECT_EQ(spies.ended.count(), 0);
}

TEST(ColourPickerTest, AColourOutsideTheTableMakesTheCustomButtonCurrent) {
  ColourPicker picker;
  picker.SetColour(0x123456);
  picker.OpenPopup();
  EXPECT_EQ(picker.Popup()->CurrentItem(), ColourPopup::kCustomItem);
  QTest::keyClick(picker.Popup(), Qt::Key_Escape);

  ColourPicker bare;
  bare.SetCustomText("");
  bare.SetColour(0x123456);
  bare.OpenPopup();
  EXPECT_EQ(bare.Popup()->CurrentItem(), ColourPopup::kNoItem);
  QTest::keyClick(bare.Popup(), Qt::Key_Escape);
}

TEST(ColourPickerTest, ReleaseInsideEndsOutsideCancelsCustomUsesTheChooser) {
  ColourPicker picker;
  picker.SetColour(0x00FF00);
  Spies spies(&picker);
  picker.OpenPopup();
  ColourPopup* popup = picker.Popup();
  QTest::mouseRelease(popup, Qt::LeftButton, {}, popup->ItemRect(39).center());
  EXPECT_EQ(picker.GetColour(), 0xFFFFFFu);
  EXPECT_EQ(spies.ended.count(), 1);

  picker.OpenPopup();
  popup = picker.Popup();
  QTest::mouseMove(popup, popup->ItemRect(5).center());
  QTest::mouseRelease(popup, Qt::LeftButton, {}, QPoint(-20, -20));
  EXPECT_EQ(picker.GetColour(), 0xFFFFFFu);
  EXPECT_EQ(spies.cancelled.count(), 1);

  std::uint32_t startedAt = 0;
  picker.SetCustomChooser([&](std::uint32_t start) -> std::optional<std::uint32_t> {
    startedAt = start;
    return 0x2468ACu;
  });
  picker.OpenPopup();
  popup = picker.Popup();
  QTest::mouseRelease(popup, Qt::LeftButton, {},
                      popup->ItemRect(ColourPopup::kCustomItem).center());
  EXPECT_EQ(startedAt, 0xFFFFFFu);
  EXPECT_EQ(picker.GetColour(), 0x2468ACu);

  picker.SetCustomChooser([](std::uint32_t) { return std::optional<std::uint32_t>(); });
  picker.OpenPopup();
  popup = picker.Popup();
  QTest::mouseRelease(popup, Qt::LeftButton, {},
                      popup->ItemRect(ColourPopup::kCustomItem).center());
  EXPECT_EQ(picker.GetColour(), 0x2468ACu);
  EXPECT_EQ(spies.cancelled.count(), 2);
}

TEST(ColourPickerTest, DefaultButtonGivesTheAutomaticColour) {
  ColourPicker picker;
  picker.SetDefaultText("Background Color");
  picker.SetColour(0x336699);
  picker.OpenPopup();
  ColourPopup* popup = picker.Popup();
  QTest::mouseRelease(popup, Qt::LeftButton, {},
                      popup->ItemRect(ColourPopup::kDefaultItem).center());
  EXPECT_EQ(picker.GetColour(), kAutomaticColour);
}

}  // namespace
}  // namespace quillon
