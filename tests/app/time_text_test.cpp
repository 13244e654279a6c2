#include "app/time_text.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(TimeTextTest, ShapesDropLeadingFieldsDownToTheirLimit) {
  EXPECT_EQ(FormatTimeText(3723450, 3), "01:02:03.45");
  EXPECT_EQ(FormatTimeText(4500, 0), "04.50");
  EXPECT_EQ(FormatTimeText(4500, 1), "04.50");
  EXPECT_EQ(FormatTimeText(4500, 2), "00:04.50");
  EXPECT_EQ(FormatTimeText(450, 0), "45");
  EXPECT_EQ(FormatTimeText(450, 1), "00.45");
  EXPECT_EQ(FormatTimeText(0, 0), "00");
  EXPECT_EQ(FormatTimeText(0, 3), "00:00:00.00");
  // Shapes above 3 are the full pattern too.
  EXPECT_EQ(FormatTimeText(61000, 7), "00:01:01.00");
}

TEST(TimeTextTest, StatusFlagsShowWholeSecondsWithoutLeadingZero) {
  EXPECT_EQ(FormatTimeText(65000, 0xC1), "1:05");
  EXPECT_EQ(FormatTimeText(5000, 0xC1), "5");
  EXPECT_EQ(FormatTimeText(3725000, 0xC1), "1:02:05");
  EXPECT_EQ(FormatTimeText(999, 0xC1), "0");
  EXPECT_EQ(FormatTimeText(10000, 0xC1), "10");
  // Without hundredths, shape 0 still shows the seconds rather than nothing.
  EXPECT_EQ(FormatTimeText(450, 0x80), "00");
}

TEST(TimeTextTest, HoursStopAt99) {
  EXPECT_EQ(FormatTimeText(100u * 3600000u + 5000, 3), "99:00:05.00");
  EXPECT_EQ(FormatTimeText(UINT32_MAX, 3), "99:02:47.29");
}

TEST(TimeTextTest, ReaderTakesHundredthsAfterTheLastDot) {
  EXPECT_EQ(ParseTimeText("1:30.5"), 90050u);
  EXPECT_EQ(ParseTimeText("15"), 150u);
  EXPECT_EQ(ParseTimeText("01:02:03.45"), 3723450u);
  EXPECT_EQ(ParseTimeText("04.50"), 4500u);
  EXPECT_EQ(ParseTimeText(".7"), 70u);
  EXPECT_EQ(ParseTimeText(""), 0u);
}

TEST(TimeTextTest, ReaderCapsEveryFieldAndReadsJunkAsZero) {
  EXPECT_EQ(ParseTimeText("150"), 990u);
  EXPECT_EQ(ParseTimeText("99:99:99.999"), 59u * 3600000 + 59u * 60000 + 59u * 1000 + 990u);
  EXPECT_EQ(ParseTimeText("abc"), 0u);
  EXPECT_EQ(ParseTimeText("x:10.y"), 10000u);
  // Fields beyond the hours are ignored.
  EXPECT_EQ(ParseTimeText("7:01:00:00.00"), 3600000u);
}

TEST(TimeTextTest, FullShapeReadsBackUnchanged) {
  for (uint32_t ms : {0u, 10u, 990u, 59990u, 3599990u, 3723450u, 215999990u}) {
    EXPECT_EQ(ParseTimeText(FormatTimeText(ms, 3)), ms) << ms;
  }
}

}  // namespace
}  // namespace quillon
