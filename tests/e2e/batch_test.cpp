// The built program in batch mode on generated clips: what it writes, logs and exits with.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_clips.h"
#include "swf/swf_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  return quillon::testing::ReadFileBytes(path);
}

// Makes a clip with the ffmpeg command once per build folder.
std::string Clip(const std::string& name, const std::string& ffmpegArgs) {
  return quillon::testing::MakeClip(quillon::testing::ClipFolder("batch"), name, ffmpegArgs);
}

std::string MovieClip() {
  return Clip("movie.mp4",
              "-f lavfi -i testsrc=size=160x120:rate=12:duration=3 -f lavfi -i "
              "sine=frequency=330:sample_rate=22050:duration=3 -pix_fmt yuv420p -c:v libx264 "
              "-preset ultrafast -c:a aac -shortest");
}
std::string BusyClip() {
  return Clip("busy.mp4",
              "-f lavfi -i testsrc2=size=320x240:rate=15:duration=2 -pix_fmt yuv420p -c:v "
              "libx264 -preset ultrafast");
}
std::string LongClip() {
  return Clip("long.mp4",
              "-f lavfi -i testsrc2=size=320x240:rate=25:duration=120 -pix_fmt yuv420p -c:v "
              "libx264 -preset ultrafast");
}

struct SwfTag {
  uint16_t code = 0;
  std::string body;
};

struct SwfFile {
  bool ok = false;
  uint32_t lengthField = 0;
  int32_t xMin = -1;
  int32_t xMax = 0;
  int32_t yMin = -1;
  int32_t yMax = 0;
  uint16_t frameRate = 0;  // 8.8
  uint16_t frameCount = 0;
  std::vector<SwfTag> tags;

  std::vector<const SwfTag*> Find(uint16_t code) const {
    std::vector<const SwfTag*> out;
    for (const auto& t : tags) {
      if (t.code == code) out.push_back(&t);
    }
    return out;
  }
};

constexpr uint16_t kEnd = 0;
constexpr uint16_t kShowFrame = 1;
constexpr uint16_t kPlaceObject = 4;
constexpr uint16_t kDoAction = 12;
constexpr uint16_t kSoundStreamHead = 18;
constexpr uint16_t kSoundStreamHead2 = 45;

// Reads the header and every tag by hand; ok only when the End tag closes the file exactly.
SwfFile ReadSwf(const std::string& path) {
  SwfFile f;
  const std::string b = ReadAll(path);
  if (b.size() < 21 || b.compare(0, 3, "FWS") != 0) return f;
  auto u8 = [&](size_t i) { return static_cast<uint8_t>(b[i]); };
  auto u16 = [&](size_t i) { return static_cast<uint16_t>(u8(i) | (u8(i + 1) << 8)); };
  auto u32 = [&](size_t i) { return u16(i) | (static_cast<uint32_t>(u16(i + 2)) << 16); };
  f.lengthField = u32(4);
  const uint32_t nbits = u8(8) >> 3;
  auto field = [&](uint32_t index) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < nbits; ++i) {
      const size_t bit = 8 * 8 + 5 + index * nbits + i;
      v = (v << 1) | ((u8(bit / 8) >> (7 - bit % 8)) & 1u);
    }
    if (nbits > 0 && (v >> (nbits - 1)) != 0) v |= ~((1u << nbits) - 1);
    return static_cast<int32_t>(v);
  };
  f.xMin = field(0);
  f.xMax = field(1);
  f.yMin = field(2);
  f.yMax = field(3);
  size_t pos = 8 + (5 + 4 * nbits + 7) / 8;
  f.frameRate = u16(pos);
  f.frameCount = u16(pos + 2);
  pos += 4;
  while (pos + 2 <= b.size()) {
    SwfTag t;
    const uint16_t word = u16(pos);
    t.code = word >> 6;
    uint32_t length = word & 0x3F;
    pos += 2;
    if (length == 0x3F) {
      if (pos + 4 > b.size()) return f;
      length = u32(pos);
      pos += 4;
    }
    if (pos + length > b.size()) return f;
    t.body = b.substr(pos, length);
    pos += length;
    f.tags.push_back(std::move(t));
    if (f.tags.back().code == kEnd) {
      f.ok = pos == b.size() && f.lengthField == b.size();
      return f;
    }
  }
  return f;
}

bool Contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

// One folder per test: the log, the outputs and a private TMPDIR that must end up empty.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::string(QUILLON_TEST_BINARY_DIR) + "/batch-e2e/" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(dir);
    fs::create_directories(dir + "tmp");
    log = dir + "batch.log";
  }

  // Starts the program with TMPDIR pointing into the test folder; stdout goes to a file.
  pid_t Start(std::vector<std::string> args) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
    }
    env.push_back("TMPDIR=" + dir + "tmp");
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    args.insert(args.begin(), QUILLON_PROGRAM);
    args.insert(args.begin(), runAs.begin(), runAs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = dir + "stdout.txt";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!workingFolder.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Exit status, or 128 + signal when it died of one; -1 when it did not end in time.
  static int Wait(pid_t pid, int seconds = 120) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  int Run(std::vector<std::string> args) {
    args.push_back("-l");
    args.push_back(log);
    const pid_t pid = Start(std::move(args));
    return pid < 0 ? -1 : Wait(pid);
  }

  std::string Logged() const { return ReadAll(log); }
  // Added to the environment of the runs that follow.
  std::vector<std::string> extraEnv;
  std::string Stdout() const { return ReadAll(dir + "stdout.txt"); }
  bool TmpEmpty() const { return fs::is_empty(dir + "tmp"); }
  std::string Settings(const std::string& name, const std::string& text) const {
    const std::string path = dir + name;
    std::ofstream(path) << text;
    return path;
  }

  // Makes the following runs those of an ordinary user: through setpriv when the tests run as
  // root (who may write anywhere), directly otherwise. False when neither can be had. The test
  // folder, its TMPDIR and the log become writable for that user.
  bool RunAsOrdinaryUser() {
    fs::permissions(dir, fs::perms::all);
    fs::permissions(dir + "tmp", fs::perms::all);
    if (geteuid() != 0) return true;
    if (std::system("setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null") !=
        0) {
      return false;
    }
    runAs = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    return true;
  }

  std::string dir;
  std::string log;
  std::vector<std::string> runAs;  // command put before the program, if any
  std::string workingFolder;       // the program's current folder; empty = the test's own
};

// The names in a folder, sorted, leaving out the test's own files.
std::vector<std::string> Outputs(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name != "tmp" && name != "batch.log" && name != "stdout.txt") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(BatchTest, MovieWithSoundAsMp3AndAsAdpcm) {
  const std::string movie = MovieClip();
  ASSERT_FALSE(movie.empty());
  ASSERT_EQ(Run({movie, dir + "mp3.swf"}), 0) << Logged();
  EXPECT_EQ(Logged(), "Encoding: " + movie + " into " + dir +
                          "mp3.swf, 0->end ms, with Default Settings\nEncoded OK: " + movie +
                          " into " + dir + "mp3.swf\n");
  const std::string adpcm = Settings("adpcm.settings", "Audio.Compression=ADPCM\n");
  ASSERT_EQ(Run({movie, dir + "adpcm.swf", "-s", adpcm}), 0) << Logged();
  EXPECT_TRUE(Contains(Logged(), "with settings " + adpcm + "\n"));

  // Stream sound compression: 2 MP3, 1 ADPCM (high nibble of the second byte).
  const std::pair<const char*, int> cases[] = {{"mp3.swf", 2}, {"adpcm.swf", 1}};
  for (const auto& [name, format] : cases) {
    SCOPED_TRACE(name);
    const SwfFile swf = ReadSwf(dir + name);
    ASSERT_TRUE(swf.ok);
    // The stage is exactly the video: FFmpeg's probe and every player's scaling depend on it.
    EXPECT_EQ(swf.xMin, 0);
    EXPECT_EQ(swf.xMax, 160 * 20);
    EXPECT_EQ(swf.yMin, 0);
    EXPECT_EQ(swf.yMax, 120 * 20);
    auto heads = swf.Find(kSoundStreamHead);
    for (auto* h : swf.Find(kSoundStreamHead2)) heads.push_back(h);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(static_cast<uint8_t>(heads[0]->body[1]) >> 4, format);
    EXPECT_EQ(swf.Find(kShowFrame).size(), swf.frameCount);
    EXPECT_GE(swf.frameCount, 35);
  }
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(BatchTest, SoundFileAloneBecomesABlankMovie) {
  const std::string wav =
      Clip("tone.wav", "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=10 -ac 1");
  ASSERT_FALSE(wav.empty());
  ASSERT_EQ(Run({wav, dir + "tone.swf"}), 0) << Logged();
  const SwfFile swf = ReadSwf(dir + "tone.swf");
  ASSERT_TRUE(swf.ok);
  EXPECT_EQ(swf.xMax, 400 * 20);
  EXPECT_EQ(swf.yMax, 300 * 20);
  EXPECT_EQ(swf.frameRate, 12 * 256);
  EXPECT_EQ(swf.frameCount, 120);
  EXPECT_EQ(swf.Find(kSoundStreamHead).size() + swf.Find(kSoundStreamHead2).size(), 1u);
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(BatchTest, StillImageAndAnimatedGif) {
  const std::string png = Clip("still.png", "-f lavfi -i testsrc=size=160x120:rate=1 -frames:v 1");
  const std::string gif = Clip("anim.gif", "-f lavfi -i testsrc=size=96x64:rate=10:duration=1");
  ASSERT_FALSE(png.empty());
  ASSERT_FALSE(gif.empty());
  ASSERT_EQ(Run({png, dir + "still.swf"}), 0) << Logged();
  ASSERT_EQ(Run({gif, dir + "anim.swf"}), 0) << Logged();
  const SwfFile still = ReadSwf(dir + "still.swf");
  ASSERT_TRUE(still.ok);
  EXPECT_EQ(still.xMax, 160 * 20);
  EXPECT_GE(still.Find(kPlaceObject).size(), 1u);
  const SwfFile anim = ReadSwf(dir + "anim.swf");
  ASSERT_TRUE(anim.ok);
  EXPECT_EQ(anim.xMax, 96 * 20);
  EXPECT_EQ(anim.frameCount, 10);
  EXPECT_GT(anim.Find(kPlaceObject).size(), 1u);
}

TEST_F(BatchTest, SelectionWithStartAndDuration) {
  const std::string movie = MovieClip();
  ASSERT_EQ(Run({movie, dir + "cut.swf", "1", "+1.5"}), 0) << Logged();
  EXPECT_TRUE(Contains(Logged(), "mp4 into " + dir + "cut.swf, 1000->2500 ms, with Default"));
  const SwfFile swf = ReadSwf(dir + "cut.swf");
  ASSERT_TRUE(swf.ok);
  EXPECT_NEAR(swf.frameCount, 18, 1);  // 1.5 s at 12 fps

  // An end before the start: nothing is opened or written.
  EXPECT_NE(Run({movie, dir + "none.swf", "2", "1"}), 0);
  EXPECT_TRUE(Contains(Logged(),
                       "2000->1000 ms, with Default Settings\n"
                       "Error: End time is lower than start time\n"));
  EXPECT_FALSE(fs::exists(dir + "none.swf"));
}

TEST_F(BatchTest, PartSizeLimitSplitsIntoChainedParts) {
  const std::string movie = BusyClip();
  ASSERT_EQ(Run({movie, dir + "clip.swf", "-ps", "40"}), 0) << Logged();
  std::vector<std::string> names{"clip.swf"};
  for (int n = 2; fs::exists(dir + "clip" + std::to_string(n) + ".swf"); ++n) {
    names.push_back("clip" + std::to_string(n) + ".swf");
  }
  ASSERT_GE(names.size(), 2u);
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_LE(fs::file_size(dir + names[i]), 40u * 1024);
    const SwfFile swf = ReadSwf(dir + names[i]);
    ASSERT_TRUE(swf.ok);
    ASSERT_EQ(swf.tags.front().code, kDoAction);
    const std::string& actions = swf.tags.front().body;
    EXPECT_FALSE(Contains(actions, "encoded"));
    const size_t numberAt = actions.find("thisPartNum");
    ASSERT_NE(numberAt, std::string::npos);
    std::string number(1, '\0');
    number.append(std::to_string(i + 1)).push_back('\0');
    EXPECT_TRUE(Contains(actions.substr(numberAt, 24), number));
    if (i + 1 < names.size()) {
      EXPECT_TRUE(Contains(actions, names[i + 1] + '\0'));
    }
    if (i > 0) {
      EXPECT_TRUE(Contains(actions, names[i - 1] + '\0'));
    }
  }
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(BatchTest, BitRateLimitShrinksTheMovie) {
  const std::string movie = BusyClip();
  ASSERT_EQ(Run({movie, dir + "free.swf"}), 0) << Logged();
  ASSERT_EQ(Run({movie, dir + "limited.swf", "-br", "56"}), 0) << Logged();
  const auto free = fs::file_size(dir + "free.swf");
  const auto limited = fs::file_size(dir + "limited.swf");
  EXPECT_LT(limited * 2, free);
  // 2 s at 56 kbit/s, with room for the header and the frames' fixed tags.
  EXPECT_LE(limited * 8, 2 * 56000 * 5 / 4);
}

TEST_F(BatchTest, CommandLineOverridesWinOverTheSettingsFile) {
  const std::string movie = MovieClip();
  const std::string file = Settings("small.settings",
                                    "Frame.Resize=50\nFrame.FPS=6\nTransport.JPEGQuality=90\n"
                                    "Match.Limit=50\n");
  ASSERT_EQ(Run({movie, dir + "file.swf", "-s", file}), 0) << Logged();
  const SwfFile fromFile = ReadSwf(dir + "file.swf");
  ASSERT_TRUE(fromFile.ok);
  EXPECT_EQ(fromFile.xMax, 80 * 20);
  EXPECT_EQ(fromFile.frameRate, 6 * 256);

  // Typed as a user does in the folder that holds it.
  workingFolder = dir;
  ASSERT_EQ(Run({movie, dir + "here.swf", "-s", "small.settings"}), 0) << Logged();
  EXPECT_TRUE(Contains(Logged(), ", with settings " + dir + "small.settings\n")) << Logged();
  EXPECT_EQ(ReadSwf(dir + "here.swf").xMax, 80 * 20);
  workingFolder.clear();

  ASSERT_EQ(Run({movie, dir + "over.swf", "-s", file, "-fs", "100", "-fps", "12"}), 0);
  const SwfFile over = ReadSwf(dir + "over.swf");
  ASSERT_TRUE(over.ok);
  EXPECT_EQ(over.xMax, 160 * 20);
  EXPECT_EQ(over.frameRate, 12 * 256);

  // Lower JPEG quality and lower image quality each make a smaller movie than the file's.
  ASSERT_EQ(Run({movie, dir + "j.swf", "-s", file, "-j", "10"}), 0);
  EXPECT_LT(fs::file_size(dir + "j.swf"), fs::file_size(dir + "file.swf"));
  ASSERT_EQ(Run({movie, dir + "q.swf", "-s", file, "-q", "0"}), 0);
  EXPECT_LT(fs::file_size(dir + "q.swf"), fs::file_size(dir + "file.swf"));
}

// A one-frame preloader movie with a red square at depth 1.
void WritePreloader(const std::string& folder) {
  quillon::SwfWriter w;
  ASSERT_TRUE(w.Open());
  w.WriteFileHeader(5, quillon::SwfRect{0, 2000, 0, 2000}, 12.0);
  w.WriteSetBackgroundColor(0xFFFFFF);
  w.WriteRectangleShape(7, 0, 0, 400, 400, true);
  w.WritePlaceObject(7, 1, nullptr);
  w.WriteShowFrame();
  w.WriteEnd();
  w.FinishPart(1);
  ASSERT_TRUE(w.WritePartFile(folder, 1));
}

TEST_F(BatchTest, PreloaderFromTheSettingsFileIsMerged) {
  const std::string movie = MovieClip();
  fs::create_directories(dir + "loader");
  WritePreloader(dir + "loader/");
  const std::string file =
      Settings("loader.settings", "Transport.Player.Loader=" + dir + "loader/encoded.swf\n");
  ASSERT_EQ(Run({movie, dir + "plain.swf"}), 0) << Logged();
  ASSERT_EQ(Run({movie, dir + "loaded.swf", "-s", file}), 0) << Logged();
  const SwfFile plain = ReadSwf(dir + "plain.swf");
  const SwfFile loaded = ReadSwf(dir + "loaded.swf");
  ASSERT_TRUE(plain.ok);
  ASSERT_TRUE(loaded.ok);
  // The preloader's square is placed above the video's depths.
  bool raised = false;
  for (const SwfTag* p : loaded.Find(kPlaceObject)) {
    const auto depth = static_cast<uint16_t>(static_cast<uint8_t>(p->body[2]) |
                                             (static_cast<uint8_t>(p->body[3]) << 8));
    raised = raised || depth == 64001;
  }
  EXPECT_TRUE(raised);
  EXPECT_GT(loaded.tags.size(), plain.tags.size());
}

TEST_F(BatchTest, FailuresAreLoggedAndLeaveNothingBehind) {
  const std::string movie = MovieClip();
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string line;
  };
  const std::string junk = dir + "junk.avi";
  std::ofstream(junk) << "not a movie";
  fs::create_directories(dir + "locked");
  chmod((dir + "locked").c_str(), 0555);
  const Case cases[] = {
      {"missing source",
       {dir + "absent.mp4", dir + "a.swf"},
       "Error Opening Movie: Unable to Open File - It doesn't look like a Movie\n"},
      {"not a movie", {junk, dir + "a.swf"}, "Error Opening Movie: Unable to Open Movie: "},
      {"missing settings",
       {movie, dir + "a.swf", "-s", dir + "absent.settings"},
       "Error Opening Settings: Could not open the Settings file.\n"},
      {"unwritable folder",
       {movie, dir + "locked/a.swf"},
       "Error Saving Flash Movie: Unable to save the encoded Flash movie. Please check that "
       "you have the necessary permissions and that the disk is not full.\n"},
      {"no destination", {movie}, "Error: Destination Flash filename not supplied\n"},
  };
  const bool root = geteuid() == 0;  // root writes into a read-only folder anyway
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (root && std::string(c.label) == "unwritable folder") continue;
    fs::remove(log);
    EXPECT_NE(Run(c.args), 0);
    EXPECT_TRUE(Contains(Logged(), c.line)) << Logged();
    EXPECT_FALSE(Contains(Logged(), "Encoded OK"));
    EXPECT_FALSE(fs::exists(dir + "a.swf"));
    EXPECT_FALSE(fs::exists(dir + "locked/a.swf"));
    EXPECT_TRUE(TmpEmpty());
  }
  chmod((dir + "locked").c_str(), 0755);
}

TEST_F(BatchTest, DestinationThatCannotBeCreatedFails) {
  // Works for root too: a regular file stands where the folder should be.
  const std::string movie = MovieClip();
  std::ofstream(dir + "file") << "x";
  EXPECT_EQ(Run({movie, dir + "file/a.swf"}), 1);
  EXPECT_TRUE(Contains(Logged(), "Error Saving Flash Movie: "));
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(BatchTest, AFailedSaveKeepsWhatStoodAtTheDestination) {
  const std::string movie = MovieClip();
  ASSERT_FALSE(movie.empty());
  // A folder at the destination's name stays, even an empty one and even for root.
  fs::create_directories(dir + "f.swf");
  EXPECT_EQ(Run({movie, dir + "f.swf"}), 1);
  EXPECT_TRUE(Contains(Logged(), "Error Saving Flash Movie: "));
  EXPECT_TRUE(fs::is_directory(dir + "f.swf"));
  EXPECT_EQ(Outputs(dir), std::vector<std::string>{"f.swf"});

  // A write-protected file in a writable folder is neither replaced nor removed.
  if (!RunAsOrdinaryUser()) GTEST_SKIP() << "no ordinary user to run as";
  std::ofstream(dir + "p.swf") << "the user's";
  chmod((dir + "p.swf").c_str(), 0444);
  fs::remove(log);
  EXPECT_EQ(Run({movie, dir + "p.swf"}), 1);
  EXPECT_TRUE(Contains(Logged(), "Error Saving Flash Movie: ")) << Logged();
  EXPECT_EQ(ReadAll(dir + "p.swf"), "the user's");
  EXPECT_EQ(Outputs(dir), (std::vector<std::string>{"f.swf", "p.swf"}));
  EXPECT_TRUE(TmpEmpty());
  // Saving next to it still works for that user.
  EXPECT_EQ(Run({movie, dir + "q"}), 0) << Logged();
  EXPECT_TRUE(Contains(Logged(), "Encoded OK: "));
  EXPECT_EQ(Outputs(dir), (std::vector<std::string>{"f.swf", "p.swf", "q.swf"}));
}

TEST_F(BatchTest, TheSourceIsNeverADestination) {
  const std::string clip = MovieClip();
  ASSERT_FALSE(clip.empty());
  const std::string movie = dir + "a.mp4";
  fs::copy_file(clip, movie);
  const std::string original = ReadAll(movie);
  fs::create_hard_link(movie, dir + "linked.swf");
  fs::create_hard_link(movie, dir + "parts3.swf");
  const std::vector<std::string> destinations = {movie, dir + "./a.mp4", dir + "linked",
                                                 dir + "parts.swf"};
  for (const std::string& destination : destinations) {
    SCOPED_TRACE(destination);
    fs::remove(log);
    EXPECT_EQ(Run({movie, destination}), 1);
    EXPECT_TRUE(Contains(Logged(), "Error Saving Flash Movie: The destination ")) << Logged();
    EXPECT_TRUE(Contains(Logged(), " is the movie being converted"));
    EXPECT_FALSE(Contains(Logged(), "Encoded OK"));
    EXPECT_EQ(ReadAll(movie), original);
    EXPECT_EQ(Outputs(dir), (std::vector<std::string>{"a.mp4", "linked.swf", "parts3.swf"}));
    EXPECT_TRUE(TmpEmpty());
  }
}

TEST_F(BatchTest, ReadableInputConvertsAndUnreadableInputSaysWhy) {
  // A stream starting at 100 000 s and a raw stream without a stated length: 2 s each.
  const std::string late = Clip("late.mkv",
                                "-f lavfi -i testsrc=size=96x64:rate=12:duration=2 -c:v libx264 "
                                "-preset ultrafast -pix_fmt yuv420p -output_ts_offset 100000");
  const std::string raw = Clip("raw.h264",
                               "-f lavfi -i testsrc=size=96x64:rate=12:duration=2 -c:v libx264 "
                               "-preset ultrafast -pix_fmt yuv420p");
  // A sound whose last sample is cut in half.
  const std::string tone =
      Clip("tone3s.wav", "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=3 -ac 2");
  ASSERT_FALSE(late.empty() || raw.empty() || tone.empty());
  const std::string bytes = ReadAll(tone);
  std::ofstream(dir + "cut.wav", std::ios::binary) << bytes.substr(0, bytes.size() / 2 + 1);
  for (const auto& [source, frames] :
       {std::pair{late, 24}, std::pair{raw, 24}, std::pair{dir + "cut.wav", 18}}) {
    SCOPED_TRACE(source);
    fs::remove(log);
    ASSERT_EQ(Run({source, dir + "out.swf"}), 0) << Logged();
    const SwfFile swf = ReadSwf(dir + "out.swf");
    ASSERT_TRUE(swf.ok);
    EXPECT_NEAR(swf.frameCount, frames, 1);
  }

  const std::string junk = dir + "junk.mp4";
  std::ofstream(junk) << "This is a text file, not a movie.\n";
  fs::remove(log);
  EXPECT_EQ(Run({junk, dir + "junk.swf"}), 1);
  EXPECT_TRUE(Contains(Logged(),
                       "Error Opening Movie: Unable to Open Movie: FFmpeg could not "
                       "read the file as a movie ("))
      << Logged();
  EXPECT_TRUE(Contains(Logged(), "the file is damaged or incomplete.\n"));
  EXPECT_FALSE(Contains(Logged(), "QuickTime"));
}

TEST_F(BatchTest, TimesOutsideTheMovieOrUnreadableAreRefused) {
  const std::string movie = MovieClip();  // 3 s
  ASSERT_FALSE(movie.empty());
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{movie, dir + "a", "abc", "xyz"}, "Error: Start time \"abc\" is not a number of seconds"},
      {{movie, dir + "a", "-5", "2"}, "Error: Times cannot be negative: -5\n"},
      {{movie, dir + "a", "3"}, "Error: Start time 3000 ms is at or after the end of the movie"},
      {{movie, dir + "a", "10", "+1"}, "Error: Start time 10000 ms is at or after the end of"},
  };
  for (const auto& [args, line] : cases) {
    SCOPED_TRACE(line);
    fs::remove(log);
    EXPECT_EQ(Run(args), 1);
    EXPECT_TRUE(Contains(Logged(), line)) << Logged();
    EXPECT_FALSE(Contains(Logged(), "Encoded OK"));
    EXPECT_EQ(Outputs(dir), std::vector<std::string>{});
    EXPECT_TRUE(TmpEmpty());
  }
  // The log names the file written, ".swf" added.
  fs::remove(log);
  ASSERT_EQ(Run({movie, dir + "a", "2"}), 0) << Logged();
  EXPECT_TRUE(Contains(Logged(), "Encoded OK: " + movie + " into " + dir + "a.swf\n"));
  EXPECT_EQ(Outputs(dir), std::vector<std::string>{"a.swf"});
}

TEST_F(BatchTest, SmoothingCyclesStopAtWhatTheSettingsPageOffers) {
  const std::string movie = MovieClip();
  ASSERT_FALSE(movie.empty());
  const std::string nine = Settings("nine.settings", "Frame.Smooth=60\nFrame.SmoothCycles=9\n");
  const std::string many = Settings("many.settings", "Frame.Smooth=60\nFrame.SmoothCycles=2000\n");
  ASSERT_EQ(Run({movie, dir + "nine.swf", "0", "+1", "-s", nine}), 0) << Logged();
  ASSERT_EQ(Run({movie, dir + "many.swf", "0", "+1", "-s", many}), 0) << Logged();
  EXPECT_TRUE(ReadAll(dir + "nine.swf") == ReadAll(dir + "many.swf"));
}

TEST_F(BatchTest, FrameRatesStayWithinWhatTheHeaderCanState) {
  // 2 s at 1000 frames per second: the movie must still last 2 s.
  const std::string fast = Clip("fast.mkv",
                                "-f lavfi -i testsrc=size=96x64:rate=1000:duration=2 -c:v libx264 "
                                "-preset ultrafast -pix_fmt yuv420p");
  ASSERT_FALSE(fast.empty());
  ASSERT_EQ(Run({fast, dir + "fast.swf"}), 0) << Logged();
  const SwfFile swf = ReadSwf(dir + "fast.swf");
  ASSERT_TRUE(swf.ok);
  EXPECT_EQ(swf.frameRate, 0xFFFF);
  EXPECT_NEAR(swf.frameCount * 256.0 / swf.frameRate, 2.0, 0.02);

  // A rate too small for the header is its smallest step, not 0.
  const std::string slow = Settings("slow.settings", "Frame.FPS=0.000000001\n");
  ASSERT_EQ(Run({MovieClip(), dir + "slow.swf", "-s", slow}), 0) << Logged();
  const SwfFile still = ReadSwf(dir + "slow.swf");
  ASSERT_TRUE(still.ok);
  EXPECT_EQ(still.frameRate, 1);
}

TEST_F(BatchTest, InterruptStopsTheRunAndCleansUp) {
  const std::string movie = LongClip();
  ASSERT_FALSE(movie.empty());
  const std::pair<int, int> cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
  for (const auto& [sig, code] : cases) {
    SCOPED_TRACE(sig);
    fs::remove(log);
    const pid_t pid = Start({movie, dir + "long.swf", "-l", log});
    ASSERT_GT(pid, 0);
    // The run has begun once its temporary folder exists.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (TmpEmpty() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(TmpEmpty());
    kill(pid, sig);
    EXPECT_EQ(Wait(pid, 30), code);
    EXPECT_TRUE(TmpEmpty());
    EXPECT_FALSE(fs::exists(dir + "long.swf"));
    const char* name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
    EXPECT_TRUE(
        Contains(Logged(), std::string("Encoding Cancelled: Interrupted by ") + name + "\n"));
  }
}

// Bitmaps are encoded on several threads and the next frame is decoded and matched ahead,
// none of which may show in the files: one thread (everything in turn), two and eight give the
// same bytes, and so does a second run. Sound, a tight bit rate that refuses frames and frees
// bitmaps, and a part size that cuts the movie are all in play.
TEST_F(BatchTest, SameMovieGivesIdenticalFilesAtEveryThreadCount) {
  struct Case {
    std::string source;
    std::vector<std::string> options;
  };
  const Case cases[] = {{MovieClip(), {}},
                        {BusyClip(), {"-q", "95"}},
                        {BusyClip(), {"-br", "300", "-ps", "40"}}};
  for (size_t c = 0; c < std::size(cases); ++c) {
    std::string first;
    for (const char* threads : {"1", "2", "8", "2"}) {
      SCOPED_TRACE(std::to_string(c) + " at " + threads + " threads");
      // The parts name each other, so every run writes the same names in a folder of its own.
      const std::string folder = dir + "run" + std::to_string(c) + "-" + threads + "/";
      fs::remove_all(folder);
      fs::create_directories(folder);
      extraEnv = {std::string("QUILLON_THREADS=") + threads};
      std::vector<std::string> args{cases[c].source, folder + "clip.swf"};
      args.insert(args.end(), cases[c].options.begin(), cases[c].options.end());
      ASSERT_EQ(Run(args), 0) << Logged();
      std::string bytes = ReadAll(folder + "clip.swf");
      for (int n = 2; fs::exists(folder + "clip" + std::to_string(n) + ".swf"); ++n) {
        bytes += ReadAll(folder + "clip" + std::to_string(n) + ".swf");
      }
      ASSERT_FALSE(bytes.empty());
      if (first.empty()) {
        first = bytes;
      } else {
        EXPECT_TRUE(bytes == first);
      }
    }
  }
  extraEnv.clear();
}

TEST_F(BatchTest, ProgressLineOnlyOnATerminal) {
  const std::string movie = MovieClip();
  // script(1) gives the program a terminal; its output there is what a user would see.
  const std::string cmd = "TMPDIR='" + dir + "tmp' script -qec \"'" + QUILLON_PROGRAM + "' '" +
                          movie + "' '" + dir + "tty.swf' -l '" + log + "'\" /dev/null > '" + dir +
                          "tty.txt' 2>&1";
  if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1)";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string screen = ReadAll(dir + "tty.txt");
  EXPECT_TRUE(Contains(screen, "\r\033[K"));
  EXPECT_TRUE(Contains(screen, " elapsed, ~"));
  EXPECT_TRUE(Contains(screen, "quillon: 1 part, "));
  EXPECT_FALSE(Contains(Logged(), "elapsed"));
  EXPECT_FALSE(Contains(Logged(), "quillon:"));

  // Without a terminal nothing of it appears.
  std::string plain = "'";
  plain.append(QUILLON_PROGRAM).append("' '").append(movie).append("' '").append(dir);
  plain.append("plain.swf' -l '").append(log).append("' 2> '").append(dir).append("err.txt'");
  ASSERT_EQ(std::system(plain.c_str()), 0);
  EXPECT_FALSE(Contains(ReadAll(dir + "err.txt"), "\r"));
}

TEST_F(BatchTest, LogOnStandardOutputCarriesOnlyTheLogLines) {
  const std::string movie = MovieClip();
  const pid_t pid = Start({movie, dir + "out.swf", "-l", ""});
  ASSERT_GT(pid, 0);
  ASSERT_EQ(Wait(pid), 0);
  std::istringstream lines(Stdout());
  std::string line;
  std::vector<std::string> all;
  while (std::getline(lines, line)) all.push_back(line);
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(all.front(),
            "Encoding: " + movie + " into " + dir + "out.swf, 0->end ms, with Default Settings");
  EXPECT_EQ(all.back(), "Encoded OK: " + movie + " into " + dir + "out.swf");
  double last = -1.0;
  for (size_t i = 1; i + 1 < all.size(); ++i) {
    // Whole percents with one decimal, never going back.
    ASSERT_EQ(all[i].size() >= 3 && all[i].substr(all[i].size() - 2) == ".0", true) << all[i];
    const double p = std::stod(all[i]);
    EXPECT_GE(p, last);
    EXPECT_LE(p, 100.0);
    last = p;
  }
}

}  // namespace
