// The MP3 sound stream encoded ahead on its own thread against the same stream encoded on the
// calling thread: the same blocks, the same failures at the same frames, and a thread that is
// gone as soon as the stream stops.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/audio_fakes.h"
#include "audio/audio_store.h"
#include "settings/encoder_settings.h"
#include "swf/swf_test_reader.h"
#include "swf/transport/bitmap_definitions.h"
#include "swf/transport/sound_stream.h"
#include "transport/synthetic_clip.h"

namespace quillon {
namespace {

using testing::FakeAudioReader;
using testing::FakeMp3Library;

// What the sound stream asks the encoder for at a time (its refill size).
constexpr uint32_t kRefillBytes = 2304;

size_t ThreadsOfThisProcess() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ++n;
  }
  return n;
}

struct Track {
  uint32_t seconds = 3;
  uint8_t channels = 2;
  uint32_t rate = 22050;
  uint32_t rangeMs = 0xFFFFFFFFu;
  bool idTagged = false;  // the encoder's output starts with an ID3 tag longer than a refill
};

Track Seconds(uint32_t seconds) {
  Track t;
  t.seconds = seconds;
  return t;
}

// One sound stream over its own store, encoder and track.
struct Side {
  FakeMp3Library* lib = nullptr;
  FakeAudioReader* reader = nullptr;
  AudioStore audio{testing::Observed(lib)};
  SwfWriter writer;
  SoundStream sound;

  bool Open(const Track& t) {
    std::vector<int16_t> samples(size_t(t.seconds) * t.rate * t.channels);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 17);
    reader = FakeAudioReader::From16(samples, t.channels, t.rate);
    AudioOptions o;
    o.flags = AudioOptions::kProcess | AudioOptions::kCompressionMp3;
    o.rate = 22050;
    o.mp3kbps = 32;
    lib->stampFrames = true;
    if (t.idTagged) {
      lib->prefix = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x27, 0x08};  // a body of 5000 bytes
      lib->prefix.resize(10 + 5000, 0xFF);
    }
    return audio.OpenReader(std::unique_ptr<AudioReader>(reader), AudioReaderKind::kStream) &&
           audio.Setup(o) && audio.SetRange(0, t.rangeMs) && writer.Open();
  }
};

// What a run of frames left: every part's bytes and which frames failed.
struct Played {
  std::vector<std::vector<uint8_t>> parts;
  std::vector<uint32_t> failedFrames;
  std::string lastError;
  int closes = 0;
  int deinits = 0;

  bool operator==(const Played&) const = default;
};

// Writes frames; after each frame in carries the frame is pushed out of its part and a new
// part begins. A failed frame stops the run, as it stops the Transport's.
Played Play(Side& side, double playerFps, uint32_t frames, const std::set<uint32_t>& carries,
            bool ahead) {
  Played p;
  side.sound.Initialise(&side.audio, playerFps);
  side.sound.SetEncodeAhead(ahead);
  EXPECT_TRUE(side.sound.StartSound());
  side.sound.StartPart();
  for (uint32_t f = 0; f < frames; ++f) {
    const uint32_t from = side.writer.Cursor();
    uint32_t bytes = 0;
    if (!side.sound.WriteSoundBlock(side.writer, bytes)) {
      p.failedFrames.push_back(f);
      break;
    }
    if (carries.count(f) != 0) {
      side.sound.CarryBlock(side.writer, from);
      p.parts.push_back(testing::OutputBytes(side.writer));
      EXPECT_TRUE(side.writer.Open());
      side.sound.StartPart();
    }
  }
  p.parts.push_back(testing::OutputBytes(side.writer));
  side.sound.StopSound();
  p.lastError = side.audio.lastError;
  p.closes = side.lib->closes;
  p.deinits = side.lib->deinits;
  return p;
}

// The EncodeChunk call, counted from 0, that encodes the given chunk of the segment (both
// counted from 0) the stream asks for, found by asking the store as the stream does.
size_t ChunkOfSegment(const Track& t, uint32_t segment, uint32_t chunk) {
  Side dry;
  EXPECT_TRUE(dry.Open(t));
  EXPECT_TRUE(dry.audio.StartMP3());
  ByteBuffer out;
  for (uint32_t s = 0; s < segment; ++s) EXPECT_GE(dry.audio.EncodeMP3(kRefillBytes, out), 0);
  return dry.lib->chunkCounts.size() + chunk;
}

uint32_t FetchOfSegment(const Track& t, uint32_t segment) {
  Side dry;
  EXPECT_TRUE(dry.Open(t));
  EXPECT_TRUE(dry.audio.StartMP3());
  ByteBuffer out;
  for (uint32_t s = 0; s < segment; ++s) EXPECT_GE(dry.audio.EncodeMP3(kRefillBytes, out), 0);
  return dry.reader->fetchCount + 1;
}

struct SameBlocksCase {
  const char* name;
  Track track;
  double playerFps;
  uint32_t frames;
  std::set<uint32_t> carries;
};

TEST(SoundStreamAheadTest, WritesTheSameBlocksAsEncodingInPlace) {
  Track rangeMidChunk;
  rangeMidChunk.rangeMs = 1234;
  Track mono;
  mono.seconds = 2;
  mono.channels = 1;
  mono.rate = 44100;
  Track idTagged;
  idTagged.idTagged = true;
  const SameBlocksCase cases[] = {
      // Runs into the sound's natural end: the last segment with the encoder's flush.
      {"to the end, carried", Track{}, 12.0, 60, {7, 20, 21, 40}},
      {"range ends mid-chunk", rangeMidChunk, 12.0, 30, {3}},
      {"mono at 44100, fast frames", mono, 30.0, 90, {10, 11, 50}},
      {"slow frames", Track{}, 2.0, 12, {1}},
      // The video ends first: the stream is stopped with segments encoded ahead.
      {"stopped early", Seconds(4), 12.0, 10, {}},
      {"tag across segments", idTagged, 12.0, 40, {5}},
  };
  for (const SameBlocksCase& c : cases) {
    SCOPED_TRACE(c.name);
    Side inPlace;
    Side ahead;
    ASSERT_TRUE(inPlace.Open(c.track));
    ASSERT_TRUE(ahead.Open(c.track));
    const Played want = Play(inPlace, c.playerFps, c.frames, c.carries, false);
    const Played got = Play(ahead, c.playerFps, c.frames, c.carries, true);
    EXPECT_TRUE(got == want);
    EXPECT_EQ(got.parts, want.parts);
    EXPECT_EQ(got.failedFrames, want.failedFrames);
    EXPECT_TRUE(want.failedFrames.empty());
    EXPECT_EQ(want.closes, 1);
    EXPECT_EQ(want.deinits, 1);
    EXPECT_GT(want.parts.front().size(), 0u);
  }
}

TEST(SoundStreamAheadTest, AnEncoderFailureFailsTheSameFrameWithTheSameText) {
  const Track t;
  struct Failure {
    const char* name;
    const char* text;
    std::function<void(Side&)> arm;
  };
  const size_t chunk = ChunkOfSegment(t, 2, 1);  // inside the 3rd segment
  const uint32_t fetch = FetchOfSegment(t, 2);
  const Failure failures[] = {
      {"encoder", kMp3EncodeError,
       [chunk](Side& s) { s.lib->failChunkAt = static_cast<int>(chunk); }},
      {"sound read", kAudioReadError, [fetch](Side& s) { s.reader->failFromFetch = fetch; }},
      {"flush", kMp3FlushError, [](Side& s) { s.lib->deinitResult = 1; }},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    Side inPlace;
    Side ahead;
    ASSERT_TRUE(inPlace.Open(t));
    ASSERT_TRUE(ahead.Open(t));
    f.arm(inPlace);
    f.arm(ahead);
    const Played want = Play(inPlace, 12.0, 60, {4}, false);
    const Played got = Play(ahead, 12.0, 60, {4}, true);
    ASSERT_EQ(want.failedFrames.size(), 1u);
    EXPECT_GT(want.failedFrames[0], 4u);
    EXPECT_EQ(want.lastError, f.text);
    EXPECT_TRUE(got == want);
    EXPECT_EQ(got.failedFrames, want.failedFrames);
    EXPECT_EQ(got.lastError, want.lastError);
  }
}

TEST(SoundStreamAheadTest, AFailureInASegmentNeverTakenLeavesNoTrace) {
  const Track t;
  const size_t chunk = ChunkOfSegment(t, 2, 1);
  Side ahead;
  ASSERT_TRUE(ahead.Open(t));
  ahead.lib->failChunkAt = static_cast<int>(chunk);
  std::promise<void> reached;
  ahead.lib->onChunk = [&reached, chunk](size_t i) {
    if (i == chunk) reached.set_value();
  };
  ahead.sound.Initialise(&ahead.audio, 12.0);
  ahead.sound.SetEncodeAhead(true);
  ASSERT_TRUE(ahead.sound.StartSound());
  ahead.sound.StartPart();
  uint32_t bytes = 0;
  ASSERT_TRUE(ahead.sound.WriteSoundBlock(ahead.writer, bytes));
  ASSERT_EQ(reached.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  // The run ends before its sound reaches the failure, as a short selection would.
  ahead.sound.StopSound();
  EXPECT_EQ(ahead.audio.lastError, "");
  EXPECT_EQ(ahead.lib->closes, 1);
}

TEST(SoundStreamAheadTest, StopAndCancelEndTheThreadAtOnce) {
  const Track t = Seconds(20);
  const size_t before = ThreadsOfThisProcess();
  {
    // Stopped while segments wait to be taken.
    Side ahead;
    ASSERT_TRUE(ahead.Open(t));
    ahead.sound.Initialise(&ahead.audio, 12.0);
    ahead.sound.SetEncodeAhead(true);
    ASSERT_TRUE(ahead.sound.StartSound());
    ahead.sound.StartPart();
    uint32_t bytes = 0;
    for (int f = 0; f < 3; ++f) ASSERT_TRUE(ahead.sound.WriteSoundBlock(ahead.writer, bytes));
    ahead.sound.StopSound();
    EXPECT_EQ(ThreadsOfThisProcess(), before);
    EXPECT_EQ(ahead.lib->closes, 1);
    EXPECT_EQ(ahead.lib->deinits, 1);
  }
  {
    // Cancelled part-way through a segment: the chunk being encoded is the last, and the
    // block that needs the segment fails.
    const size_t chunk = ChunkOfSegment(t, 2, 1);
    Side ahead;
    ASSERT_TRUE(ahead.Open(t));
    std::atomic<bool> cancel{false};
    ahead.lib->onChunk = [&cancel, chunk](size_t i) {
      if (i == chunk) cancel.store(true);
    };
    ahead.sound.Initialise(&ahead.audio, 12.0);
    ahead.sound.SetEncodeAhead(true);
    ahead.sound.SetCancelFlag(&cancel);
    ASSERT_TRUE(ahead.sound.StartSound());
    ahead.sound.StartPart();
    uint32_t bytes = 0;
    int written = 0;
    while (written < 200 && ahead.sound.WriteSoundBlock(ahead.writer, bytes)) ++written;
    EXPECT_LT(written, 200);
    EXPECT_GT(written, 4);  // the first two segments were whole
    ahead.sound.StopSound();
    EXPECT_EQ(ThreadsOfThisProcess(), before);
    // A chunk of 11025 frames goes to the encoder in calls of 1152 (stereo pairs).
    EXPECT_LE(ahead.lib->chunkCounts.size(), chunk + 10);
    EXPECT_EQ(ahead.lib->closes, 1);
  }
}

// Whole runs with MP3 sound: with one thread the sound is encoded in place, with more ahead.
TEST(SoundStreamAheadRunTest, PartsAreTheSameAtEveryThreadCount) {
  struct Case {
    const char* name;
    testing::ClipSpec clip;
    uint32_t partSizeLimit = 0;
    uint32_t failFromFetch = UINT32_MAX;
    bool fails = false;
  };
  testing::ClipSpec toTheEnd;  // the sound runs out (and is flushed) before the pictures
  toTheEnd.frames = 36;
  toTheEnd.sound = true;
  toTheEnd.mp3FramesPer = 1400;
  testing::ClipSpec pastTheEnd = toTheEnd;  // the pictures end first
  pastTheEnd.mp3FramesPer = 576;
  testing::ClipSpec parts = toTheEnd;  // blocks carried into the next part
  parts.frames = 24;
  parts.pattern = testing::ClipPattern::kNoise;
  const Case cases[] = {
      {"to the sound's end", toTheEnd},
      {"past the sound's end", pastTheEnd},
      {"parts", parts, 6000},
      {"sound read failure", toTheEnd, 0, 3, true},
      // Only the encoding ahead reaches it: the run must not fail for it.
      {"sound read failure after the run's end", pastTheEnd, 0, 3},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> first;
    std::string firstError;
    uint32_t firstFrames = 0;
    for (uint32_t threads : {1u, 2u, 8u}) {
      SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(threads) + " threads");
      testing::TransportRig rig;
      rig.settings.transport.partSizeLimit = c.partSizeLimit;
      ASSERT_TRUE(rig.Prepare(c.clip)) << rig.error;
      rig.soundReader->failFromFetch = c.failFromFetch;
      rig.transport->Bitmaps().SetThreads(threads);
      const std::string dir = testing::FreshFolder(std::string("sound-ahead-") + c.name);
      const bool ok = rig.Run(dir);
      EXPECT_EQ(ok, !c.fails);
      std::vector<std::vector<uint8_t>> files;
      for (uint32_t n = 1; ok && n <= rig.transport->PartCount(); ++n) {
        files.push_back(testing::ReadFileBytes(SwfWriter::PartFileName(dir, n)));
      }
      if (threads == 1) {
        first = files;
        firstError = rig.transport->ErrorText();
        firstFrames = rig.transport->FrameCount();
        if (ok) {
          EXPECT_GT(testing::CountTags(testing::ParseSwf(files.front()), 19), 0u);
        } else {
          EXPECT_NE(firstError.find("sound"), std::string::npos) << firstError;
          EXPECT_GT(firstFrames, 4u);
        }
        if (c.partSizeLimit != 0) {
          EXPECT_GE(files.size(), 3u);
        }
      } else {
        EXPECT_EQ(files, first);
        EXPECT_EQ(rig.transport->ErrorText(), firstError);
        EXPECT_EQ(rig.transport->FrameCount(), firstFrames);
      }
      EXPECT_EQ(rig.mp3->closes, 1);
    }
  }
}

TEST(SoundStreamAheadRunTest, ACancelledRunEndsTheSoundsThreadWithinAChunk) {
  testing::ClipSpec clip;
  clip.frames = 48;
  clip.sound = true;
  clip.mp3FramesPer = 576;
  testing::TransportRig rig;
  ASSERT_TRUE(rig.Prepare(clip)) << rig.error;
  rig.transport->Bitmaps().SetThreads(2);
  // Cancelled from the sound's own thread, part-way through its third refill.
  constexpr size_t kCancelAt = 30;
  Transport* transport = rig.transport.get();
  rig.mp3->onChunk = [transport](size_t i) {
    if (i == kCancelAt) transport->RequestStop();
  };
  const size_t before = ThreadsOfThisProcess();
  EXPECT_FALSE(rig.Run(testing::FreshFolder("sound-ahead-cancel")));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kCancelled);
  EXPECT_EQ(ThreadsOfThisProcess(), before);
  // A chunk of 11025 mono frames goes to the encoder in calls of 2304.
  EXPECT_LE(rig.mp3->chunkCounts.size(), kCancelAt + 5);
  EXPECT_EQ(rig.mp3->closes, 1);
}

}  // namespace
}  // namespace quillon
