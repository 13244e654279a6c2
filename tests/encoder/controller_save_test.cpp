// Saving the generated parts under their final names, on hand-made temporary parts.
#include "encoder/encoder_controller.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "encoder/movie_saver.h"
#include "encoder/temp_folder.h"
#include "support/test_clips.h"
#include "swf/action_builder.h"
#include "swf/swf_writer.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// The names in a folder, sorted: what a save left there, temporary files included.
std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

uint32_t Get32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8) |
         (static_cast<uint8_t>(b[at + 2]) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}

// Where the first tag starts: after signature, length, RECT, frame rate and count.
size_t FirstTagOffset(const std::string& b) {
  const uint32_t nbits = static_cast<uint8_t>(b[8]) >> 3;
  return 8 + (5 + 4 * nbits + 7) / 8 + 4;
}

struct Tag {
  uint16_t code = 0;
  size_t bodyStart = 0;
  uint32_t length = 0;
};

Tag ReadTag(const std::string& b, size_t at) {
  Tag t;
  const uint16_t word = static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8);
  t.code = word >> 6;
  t.length = word & 0x3F;
  t.bodyStart = at + 2;
  if (t.length == 0x3F) {
    t.length = Get32(b, at + 2);
    t.bodyStart = at + 6;
  }
  return t;
}

// A temporary part as the Transport writes it: header, part action block for "encoded",
// a background colour and a few frames.
void WritePart(const std::string& folder, uint32_t part, uint32_t count, uint32_t frames,
               bool withActionBlock = true) {
  SwfWriter w;
  ASSERT_TRUE(w.Open());
  w.WriteFileHeader(5, SwfRect{0, 6400, 0, 4800}, 15.0);
  if (withActionBlock) ActionBuilder(w).PartVariablesScript("encoded", part, part == count);
  w.WriteSetBackgroundColor(0x102030 + part);
  for (uint32_t f = 0; f < frames; ++f) w.WriteShowFrame();
  w.WriteEnd();
  w.FinishPart(frames);
  ASSERT_TRUE(w.WritePartFile(folder, part));
}

class ControllerSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeTemporaryFolder(parts));
    out = std::string(QUILLON_TEST_BINARY_DIR) + "/controller_save_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(out);
    fs::create_directories(out);
  }
  void TearDown() override {
    RemoveTemporaryParts(parts);
    fs::remove_all(out);
  }

  std::string parts;
  std::string out;
  EncoderController controller;
};

TEST(DestinationNameTest, SplitsFolderNameAndExtension) {
  DestinationName d = SplitDestination("/out/clip");
  EXPECT_EQ(d.folder, "/out/");
  EXPECT_EQ(d.name, "clip");
  EXPECT_EQ(d.extension, "swf");
  EXPECT_EQ(FinalPartName(d, 1), "/out/clip.swf");
  EXPECT_EQ(FinalPartName(d, 3), "/out/clip3.swf");

  d = SplitDestination("C:\\films.v2\\clip.SWF");
  EXPECT_EQ(d.folder, "C:\\films.v2\\");
  EXPECT_EQ(d.name, "clip");
  EXPECT_EQ(d.extension, "SWF");

  // Only a dot of the file name starts the extension.
  d = SplitDestination("films.v2/clip");
  EXPECT_EQ(d.name, "clip");
  EXPECT_EQ(d.extension, "swf");
  d = SplitDestination("a.b.swf");
  EXPECT_EQ(d.folder, "");
  EXPECT_EQ(d.name, "a.b");
  EXPECT_EQ(FinalPartName(d, 2), "a.b2.swf");
}

TEST_F(ControllerSaveTest, NothingToSaveBeforeARunFailsWithoutMessage) {
  const std::string dest = out + "clip.swf";
  EXPECT_FALSE(controller.SaveMovie(&dest));
  EXPECT_EQ(controller.GetMessage(), nullptr);
  EXPECT_FALSE(fs::exists(dest));
  // A folder without parts is no movie either.
  controller.AdoptTemporaryParts(parts, 0);
  EXPECT_FALSE(controller.SaveMovie(&dest));
  EXPECT_EQ(controller.GetMessage(), nullptr);
}

TEST_F(ControllerSaveTest, OnePartIsCopiedUnchanged) {
  WritePart(parts, 1, 1, 3);
  controller.AdoptTemporaryParts(parts, 1);
  const std::string dest = out + "clip";  // no extension: ".swf" is added
  ASSERT_TRUE(controller.SaveMovie(&dest));
  EXPECT_EQ(ReadAll(out + "clip.swf"), ReadAll(parts + "encoded.swf"));
  // The last destination serves when none is given.
  controller.SetLastDestination(out + "again.swf");
  ASSERT_TRUE(controller.SaveMovie());
  EXPECT_TRUE(fs::exists(out + "again.swf"));
}

TEST_F(ControllerSaveTest, SeveralPartsGetActionBlocksWithTheFinalNames) {
  for (uint32_t n = 1; n <= 3; ++n) WritePart(parts, n, 3, n + 1);
  controller.AdoptTemporaryParts(parts, 3);
  const std::string dest = out + "clip.swf";
  ASSERT_TRUE(controller.SaveMovie(&dest));

  const char* names[] = {"clip.swf", "clip2.swf", "clip3.swf"};
  for (uint32_t n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const std::string saved = ReadAll(out + names[n - 1]);
    const std::string temp = ReadAll(SwfWriter::PartFileName(parts, n));
    ASSERT_GT(saved.size(), 20u);
    EXPECT_EQ(saved.substr(0, 4), temp.substr(0, 4));
    EXPECT_EQ(Get32(saved, 4), saved.size());
    // Same rectangle, frame rate and frame count.
    const size_t savedFirst = FirstTagOffset(saved);
    const size_t tempFirst = FirstTagOffset(temp);
    EXPECT_EQ(saved.substr(8, savedFirst - 8), temp.substr(8, tempFirst - 8));

    const Tag action = ReadTag(saved, savedFirst);
    ASSERT_EQ(action.code, 12);
    const std::string body = saved.substr(action.bodyStart, action.length);
    EXPECT_EQ(body.find(std::string("encoded")), std::string::npos);
    if (n < 3) {
      EXPECT_NE(body.find(std::string(names[n]) + '\0'), std::string::npos);
    }
    if (n > 1) {
      EXPECT_NE(body.find(std::string(names[n - 2]) + '\0'), std::string::npos);
      EXPECT_NE(body.find(std::string("clip.swf") + '\0'), std::string::npos);
    }
    if (n == 3) {
      EXPECT_EQ(body.find("nextPart"), std::string::npos);
    }

    // Everything after the old action block is carried over byte for byte.
    const Tag old = ReadTag(temp, tempFirst);
    EXPECT_EQ(saved.substr(action.bodyStart + action.length),
              temp.substr(old.bodyStart + old.length));
  }
}

TEST_F(ControllerSaveTest, AFailedSaveLeavesEveryFileAsItWas) {
  WritePart(parts, 1, 3, 2);
  WritePart(parts, 2, 3, 2, /*withActionBlock=*/false);
  WritePart(parts, 3, 3, 2);
  // Files of an older save, one of them reached before the damaged part.
  { std::ofstream(out + "clip.swf") << "older"; }
  { std::ofstream(out + "clip3.swf") << "older 3"; }
  controller.AdoptTemporaryParts(parts, 3);
  const std::string dest = out + "clip.swf";
  EXPECT_FALSE(controller.SaveMovie(&dest));
  std::string text;
  ASSERT_NE(controller.GetMessage(&text), nullptr);
  EXPECT_STREQ(controller.GetMessage(), "Error Saving Flash Movie");
  EXPECT_EQ(text.rfind("Unable to save the encoded Flash movie. Please check that you have the "
                       "necessary permissions and that the disk is not full.",
                       0),
            0u);
  EXPECT_EQ(FolderListing(out), (std::vector<std::string>{"clip.swf", "clip3.swf"}));
  EXPECT_EQ(ReadAll(out + "clip.swf"), "older");
  EXPECT_EQ(ReadAll(out + "clip3.swf"), "older 3");

  // A folder standing at a part's name stays, however empty.
  WritePart(parts, 2, 3, 2);
  fs::remove(out + "clip3.swf");
  fs::create_directory(out + "clip3.swf");
  EXPECT_FALSE(controller.SaveMovie(&dest));
  EXPECT_TRUE(fs::is_directory(out + "clip3.swf"));
  EXPECT_EQ(ReadAll(out + "clip.swf"), "older");
  EXPECT_EQ(FolderListing(out), (std::vector<std::string>{"clip.swf", "clip3.swf"}));
}

TEST_F(ControllerSaveTest, ASuccessfulSaveReplacesOlderFilesAndKeepsTheirMode) {
  WritePart(parts, 1, 2, 2);
  WritePart(parts, 2, 2, 3);
  { std::ofstream(out + "clip.swf") << "older"; }
  fs::permissions(out + "clip.swf", fs::perms::owner_read | fs::perms::owner_write);
  controller.AdoptTemporaryParts(parts, 2);
  const std::string dest = out + "clip.swf";
  ASSERT_TRUE(controller.SaveMovie(&dest)) << controller.GetMessage();
  EXPECT_EQ(FolderListing(out), (std::vector<std::string>{"clip.swf", "clip2.swf"}));
  EXPECT_EQ(ReadAll(out + "clip.swf").substr(0, 3), "FWS");
  EXPECT_EQ(fs::status(out + "clip.swf").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
}

// Runs `save` as an ordinary user: directly when not root, else in a child process that gives
// up root. Returns 0 or 1 for the save's outcome, -1 when no ordinary user can be had.
int AsOrdinaryUser(const std::function<bool()>& save) {
  if (::geteuid() != 0) return save() ? 1 : 0;
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(3);
    }
    ::_exit(save() ? 1 : 0);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) <= 1 ? WEXITSTATUS(status) : -1;
}

TEST_F(ControllerSaveTest, AWriteProtectedFileIsNeitherReplacedNorRemoved) {
  WritePart(parts, 1, 1, 2);
  // Parts readable and the destination folder writable for whoever runs the save.
  fs::permissions(parts, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(out, fs::perms::all);
  { std::ofstream(out + "p.swf") << "keep me"; }
  fs::permissions(out + "p.swf",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  controller.AdoptTemporaryParts(parts, 1);
  const std::string dest = out + "p.swf";
  const int saved = AsOrdinaryUser([&] { return controller.SaveMovie(&dest); });
  if (saved < 0) GTEST_SKIP() << "no ordinary user to run as";
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(ReadAll(out + "p.swf"), "keep me");
  EXPECT_EQ(FolderListing(out), std::vector<std::string>{"p.swf"});
}

// A second of silent PCM sound: the smallest file the controller opens as a movie.
void WriteWav(const std::string& path) {
  std::ofstream(path, std::ios::binary)
      << testing::PcmWavBytes(8000, 1, std::string(16000, '\0'), 16000);
}

TEST_F(ControllerSaveTest, APartThatIsTheMovieItselfIsRefused) {
  const std::string movie = out + "movie.wav";
  WriteWav(movie);
  const std::string original = ReadAll(movie);
  ASSERT_TRUE(controller.OpenMovie(movie)) << controller.GetMessage();
  for (uint32_t n = 1; n <= 3; ++n) WritePart(parts, n, 3, 2);
  controller.AdoptTemporaryParts(parts, 3);

  // The same file under another spelling, and under another name through a hard link.
  const std::string spelled = out + "./movie.wav";
  EXPECT_FALSE(controller.CheckDestination(spelled));
  EXPECT_FALSE(controller.SaveMovie(&spelled));
  std::string text;
  EXPECT_STREQ(controller.GetMessage(&text), "Error Saving Flash Movie");
  EXPECT_NE(text.find("is the movie being converted"), std::string::npos) << text;
  fs::create_hard_link(movie, out + "clip3.swf");
  const std::string dest = out + "clip";
  EXPECT_FALSE(controller.CheckDestination(dest));  // before encoding: any part number
  EXPECT_FALSE(controller.SaveMovie(&dest));
  EXPECT_EQ(ReadAll(movie), original);
  EXPECT_EQ(FolderListing(out), (std::vector<std::string>{"clip3.swf", "movie.wav"}));

  // Names that are no part of "clip" do not stand in the way.
  fs::rename(out + "clip3.swf", out + "clip03.swf");
  EXPECT_TRUE(controller.CheckDestination(dest));
  fs::rename(out + "clip03.swf", out + "clipx.swf");
  EXPECT_TRUE(controller.CheckDestination(dest));
  EXPECT_TRUE(controller.SaveMovie(&dest)) << controller.GetMessage();
  EXPECT_EQ(ReadAll(movie), original);
}

// Seeded: destinations of separators, dots, digits and letters; every part's name reads back
// as its number and part 1 is the destination, with ".swf" only when it had no extension.
TEST(DestinationNameTest, PartNamesReadBackAsTheirNumbers) {
  std::mt19937 random(17);
  const std::string alphabet = "ab1/.\\9";
  for (int round = 0; round < 2000; ++round) {
    std::string destination;
    for (size_t n = random() % 12; n > 0; --n) destination += alphabet[random() % alphabet.size()];
    SCOPED_TRACE(destination);
    const DestinationName d = SplitDestination(destination);
    const size_t slash = destination.find_last_of("/\\");
    const std::string file =
        slash == std::string::npos ? destination : destination.substr(slash + 1);
    EXPECT_EQ(FirstPartName(destination),
              file.find('.') == std::string::npos ? destination + ".swf" : destination);
    for (const uint32_t n : {1u, 2u, 10u, 12u, 123u}) {
      const std::string name = FinalPartName(d, n);
      EXPECT_EQ(PartNumberOf(d, name.substr(name.rfind('/') + 1)), n) << name;
    }
  }
}

TEST(DestinationNameTest, PartNumbersOfFileNames) {
  const DestinationName d = SplitDestination("/out/clip1.swf");
  EXPECT_EQ(PartNumberOf(d, "clip1.swf"), 1u);
  EXPECT_EQ(PartNumberOf(d, "clip12.swf"), 2u);
  EXPECT_EQ(PartNumberOf(d, "clip1100.swf"), 100u);
  for (const char* none : {"clip11.swf", "clip101.swf", "clip1.SWF", "clip1x.swf", "clip.swf",
                           "clip1", "clip1.swf.bak", "clip199999999999.swf"}) {
    EXPECT_EQ(PartNumberOf(d, none), 0u) << none;
  }
}

TEST_F(ControllerSaveTest, DamagedPartsAreRefused) {
  std::string error;
  const std::string good = SwfWriter::PartFileName(parts, 1);
  WritePart(parts, 1, 2, 2);
  const std::string bytes = ReadAll(good);

  auto writeAs = [&](const std::string& name, const std::string& content) {
    std::ofstream(parts + name, std::ios::binary) << content;
    return parts + name;
  };
  // Too short, compressed, and an action block announcing more bytes than the file holds.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::tmpfile(), &std::fclose);
  ASSERT_NE(sink, nullptr);
  EXPECT_FALSE(
      RewritePartFile(writeAs("short", bytes.substr(0, 31)), sink.get(), "a", 1, false, error));
  std::string compressed = bytes;
  compressed[0] = 'C';
  EXPECT_FALSE(RewritePartFile(writeAs("cws", compressed), sink.get(), "a", 1, false, error));
  std::string cut = bytes.substr(0, FirstTagOffset(bytes) + 8);
  EXPECT_FALSE(RewritePartFile(writeAs("cut", cut), sink.get(), "a", 1, false, error));
  EXPECT_TRUE(RewritePartFile(good, sink.get(), "a", 1, false, error)) << error;
  fs::remove(parts + "short");
  fs::remove(parts + "cws");
  fs::remove(parts + "cut");
}

TEST_F(ControllerSaveTest, UnwritableDestinationFails) {
  WritePart(parts, 1, 1, 1);
  controller.AdoptTemporaryParts(parts, 1);
  const std::string dest = out + "missing-folder/clip.swf";
  EXPECT_FALSE(controller.SaveMovie(&dest));
  EXPECT_STREQ(controller.GetMessage(), "Error Saving Flash Movie");
}

TEST(TemporaryFolderTest, RemovesEveryPartFileAndTheFolder) {
  std::string folder;
  ASSERT_TRUE(MakeTemporaryFolder(folder));
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(folder.find("/quil"), std::string::npos);
  for (const char* name : {"encoded.swf", "encoded2.swf", "encoded17.swf"}) {
    std::ofstream(folder + name) << "x";
  }
  RemoveTemporaryParts(folder);
  EXPECT_FALSE(fs::exists(folder));

  // A file the run did not write keeps the folder (and itself).
  ASSERT_TRUE(MakeTemporaryFolder(folder));
  std::ofstream(folder + "encoded.swf") << "x";
  std::ofstream(folder + "notes.txt") << "x";
  RemoveTemporaryParts(folder);
  EXPECT_FALSE(fs::exists(folder + "encoded.swf"));
  EXPECT_TRUE(fs::exists(folder + "notes.txt"));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quillon
