// FrameStore over the FFmpeg reader with real files: bad input fails cleanly and quietly, and a
// whole range read in order decodes every source frame at most once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "settings/encoder_settings.h"
#include "video/ffmpeg_video_reader.h"
#include "video/frame_store.h"

namespace quillon {
namespace {

std::string Clip(const std::string& name) {
  return std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/" + name;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/frame_store_files_" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(FrameStoreFilesTest, BadInputFailsSayingWhatFfmpegCouldNotReadAndPrintsNothing) {
  const std::string unreadable = "FFmpeg could not read the file as a movie (";
  const std::pair<std::string, std::string> cases[] = {
      {Clip("does-not-exist.mp4"), unreadable},
      {WriteFile("empty.mp4", ""), unreadable},
      {WriteFile("garbage.mp4",
                 std::string("\x13\x37\x00\xFF\x42\x99\x01\x02\x03\x04\x05\x06", 12)),
       unreadable},
      {WriteFile("text.mp4", "This is a text file, not a movie.\nSecond line.\n"), unreadable},
      {Clip("half.mp4"), unreadable},
      // Sound only: the controller falls back to empty video.
      {Clip("tone.wav"), "the file holds no video stream"},
      {Clip("all_damaged.mkv"),
       "no picture of its video could be decoded: the file may be "
       "damaged or incomplete"},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    FrameStore store;
    testing::internal::CaptureStderr();
    const bool opened = store.Open(path);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened);
    EXPECT_EQ(store.lastError.rfind(reason, 0), 0u) << store.lastError;
    EXPECT_EQ(store.GetReaderKind(), ReaderKind::kNone);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(store.GetFrame(0), nullptr);
  }
}

TEST(FrameStoreFilesTest, DamagedTailShortensTheTrack) {
  FrameStore store;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(store.Open(Clip("damaged.mp4")));
  FrameOptions options;
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  EXPECT_LT(store.SourceDurationMs(), 4000u);
  for (uint32_t i = 0; i < store.RangeFrameCount(); ++i) ASSERT_NE(store.GetFrame(i), nullptr) << i;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(FrameStoreFilesTest, SequentialRangeDecodesEverySourceFrameAtMostOnceWithoutSeeking) {
  FrameStore store;
  ASSERT_TRUE(store.Open(Clip("h264_25.mp4")));
  FrameOptions options;
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  ASSERT_EQ(store.RangeFrameCount(), 150u);
  for (uint32_t i = 0; i < store.RangeFrameCount(); ++i) {
    ASSERT_NE(store.GetFrame(i), nullptr) << i;
    // The matching stages look back over the window: those come from the cache.
    for (uint32_t back = 1; back <= 40 && back <= i; back += 13) {
      ASSERT_NE(store.GetFrame(i - back), nullptr);
    }
  }
  const auto* reader = dynamic_cast<const FfmpegVideoReader*>(store.Reader());
  ASSERT_NE(reader, nullptr);
  EXPECT_LE(reader->GetStats().framesDecoded, 150u);
  EXPECT_EQ(reader->GetStats().seeks, 0u);
}

TEST(FrameStoreFilesTest, PreviewThreadAndEncodingThreadShareTheReader) {
  FrameStore store;
  ASSERT_TRUE(store.Open(Clip("h264_25.mp4")));
  FrameOptions options;
  options.resize = 50.0f;
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  auto before = store.RenderPreview(2000);
  ASSERT_NE(before, nullptr);
  int previewFailures = 0;
  std::thread preview([&] {
    for (int n = 0; n < 20; ++n) {
      auto picture = store.RenderPreview(2000);
      if (!picture || picture->pixels != before->pixels) ++previewFailures;
    }
  });
  for (uint32_t i = 0; i < 100; ++i) EXPECT_NE(store.GetFrame(i), nullptr);
  preview.join();
  EXPECT_EQ(previewFailures, 0);
  EXPECT_EQ(before->width, 80u);
}

}  // namespace
}  // namespace quillon
