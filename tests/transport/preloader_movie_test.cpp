#include "swf/transport/preloader_movie.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "swf/swf_test_reader.h"
#include "swf/swf_writer.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::ParsedTag;
using testing::ParseTags;

// Builds small movies tag by tag, with the header form chosen by the test.
class MovieBuilder {
 public:
  explicit MovieBuilder(uint8_t version = 6, SwfRect stage = {0, 11000, 0, 8000}) {
    EXPECT_TRUE(w_.Open());
    w_.WriteFileHeader(version, stage, 12.0);
  }
  MovieBuilder& Tag(uint16_t code, const Bytes& body, bool longHeader = false) {
    if (longHeader || body.size() > 62) {
      w_.Put16(static_cast<uint16_t>(code << 6 | 0x3F));
      w_.Put32(static_cast<uint32_t>(body.size()));
    } else {
      w_.Put16(static_cast<uint16_t>(code << 6 | body.size()));
    }
    if (!body.empty()) w_.Append(body.data(), static_cast<uint32_t>(body.size()));
    return *this;
  }
  MovieBuilder& ShowFrame() { return Tag(1, {}); }
  MovieBuilder& End() { return Tag(0, {}); }
  Bytes Build() { return testing::OutputBytes(w_); }

 private:
  SwfWriter w_;
};

Bytes Compress(const Bytes& fws) {
  uLongf size = compressBound(static_cast<uLong>(fws.size()));
  Bytes out(8 + size);
  EXPECT_EQ(compress2(out.data() + 8, &size, fws.data() + 8, fws.size() - 8, 9), Z_OK);
  out.resize(8 + size);
  out[0] = 'C';
  out[1] = 'W';
  out[2] = 'S';
  out[3] = fws[3];
  const uint32_t total = static_cast<uint32_t>(fws.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(total >> (8 * i));
  return out;
}

std::vector<ParsedTag> Copied(const PreloaderMovie& m) {
  const ByteBuffer& t = m.Tags();
  return ParseTags(Bytes(t.Data(), t.Data() + t.Size()));
}

uint16_t U16At(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

TEST(PreloaderMovieTest, RaisesEveryDisplayDepthAbove64000) {
  // clang-format off
  const Bytes placeObject2WithClip = {
      0x02 | 0x04 | 0x08 | 0x10 | 0x20 | 0x40,  // character, matrix, cxform, ratio, name, clip
      7, 0,                                     // depth 7
      3, 0,                                     // character 3
      0b1'00010'01, 0x00,  // matrix: scale 2 bits (1, 0), no rotation, no translation
      0b01'0010'00, 0b00000000,                  // cxform: mult only, 2 bits, four terms
      9, 0,                                      // ratio
      'c', 'l', 'i', 'p', 0,                     // name
      12, 0};                                    // clip depth 12
  // clang-format on
  const Bytes movie = MovieBuilder()
                          .Tag(4, {1, 0, 5, 0, 0})  // PlaceObject char 1 depth 5
                          .Tag(5, {1, 0, 5, 0})     // RemoveObject char 1 depth 5
                          .Tag(28, {9, 0})          // RemoveObject2 depth 9
                          .Tag(26, placeObject2WithClip)
                          .Tag(26, {0x01, 4, 0})  // move at depth 4, nothing else
                          .ShowFrame()
                          .End()
                          .Build();
  PreloaderMovie m;
  ASSERT_TRUE(m.ReadBytes(movie.data(), movie.size())) << m.lastError;
  const auto tags = Copied(m);
  ASSERT_EQ(tags.size(), 6u);
  EXPECT_EQ(U16At(tags[0].body, 2), 64005);
  EXPECT_EQ(U16At(tags[0].body, 0), 1);  // character id untouched
  EXPECT_EQ(U16At(tags[1].body, 2), 64005);
  EXPECT_EQ(U16At(tags[2].body, 0), 64009);
  EXPECT_EQ(U16At(tags[3].body, 1), 64007);
  EXPECT_EQ(U16At(tags[3].body, tags[3].body.size() - 2), 64012);
  EXPECT_EQ(U16At(tags[3].body, 3), 3);  // the character id before the matrix is kept
  EXPECT_EQ(U16At(tags[4].body, 1), 64004);
  EXPECT_EQ(tags[4].body.size(), 3u);
}

TEST(PreloaderMovieTest, KeepsFiguresDropsBackgroundCountsFramesAndLeavesEndOut) {
  const Bytes opaque = {0xAA, 0xBB, 0xCC};
  const Bytes movie = MovieBuilder(7, {-200, 11000, 0, 8000})
                          .Tag(9, {0xFF, 0, 0})  // SetBackgroundColor
                          .Tag(43, opaque)       // any other tag is copied as it is
                          .ShowFrame()
                          .ShowFrame()
                          .ShowFrame()
                          .End()
                          .Tag(43, opaque)  // after End: not read
                          .Build();
  PreloaderMovie m;
  ASSERT_TRUE(m.ReadBytes(movie.data(), movie.size()));
  EXPECT_EQ(m.Status(), PreloaderStatus::kOk);
  EXPECT_EQ(m.Version(), 7);
  EXPECT_EQ(m.FrameRect(), (SwfRect{-200, 11000, 0, 8000}));
  EXPECT_EQ(m.FrameCount(), 3u);
  const auto tags = Copied(m);
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(tags[0].code, 43);
  EXPECT_EQ(tags[0].body, opaque);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(tags[i].code, 1);
}

TEST(PreloaderMovieTest, NormalisesCopiedHeaders) {
  const Bytes b10(10, 0x11);
  const Bytes b63(63, 0x22);
  const Bytes movie = MovieBuilder()
                          .Tag(12, b10, /*longHeader=*/true)  // short once copied
                          .Tag(6, b10)                        // bitmaps keep long headers
                          .Tag(20, b10, true)
                          .Tag(12, b63)  // 63 bytes: long
                          .End()
                          .Build();
  PreloaderMovie m;
  ASSERT_TRUE(m.ReadBytes(movie.data(), movie.size()));
  const auto tags = Copied(m);
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_FALSE(tags[0].longHeader);
  EXPECT_TRUE(tags[1].longHeader);
  EXPECT_TRUE(tags[2].longHeader);
  EXPECT_TRUE(tags[3].longHeader);
  EXPECT_EQ(tags[0].body, b10);
  EXPECT_EQ(m.TagBytes(), (2 + 10) + (6 + 10) + (6 + 10) + (6 + 63));
}

TEST(PreloaderMovieTest, MalformedFilesAreReadFailuresWithNothingKept) {
  const Bytes good = MovieBuilder().Tag(4, {1, 0, 5, 0, 0}).ShowFrame().End().Build();
  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"not an SWF", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}});
  cases.push_back({"no End tag", Bytes(good.begin(), good.end() - 2)});
  cases.push_back({"cut inside the header", Bytes(good.begin(), good.begin() + 9)});
  cases.push_back({"tag past the end", MovieBuilder().Tag(12, Bytes(40, 0)).Build()});
  {
    Bytes b = MovieBuilder().Tag(12, Bytes(8, 0), true).End().Build();
    b[b.size() - 2 - 8 - 4] = 0xF0;  // long length far beyond the file
    cases.push_back({"long length past the end", b});
  }
  cases.push_back({"PlaceObject too short", MovieBuilder().Tag(4, {1, 0, 5}).End().Build()});
  cases.push_back({"RemoveObject2 too short", MovieBuilder().Tag(28, {9}).End().Build()});
  cases.push_back(
      {"clip depth announced but missing", MovieBuilder().Tag(26, {0x40, 1, 0}).End().Build()});
  cases.push_back(
      {"name without terminator", MovieBuilder().Tag(26, {0x60, 1, 0, 'a', 'b'}).End().Build()});
  cases.push_back(
      {"matrix beyond the body", MovieBuilder().Tag(26, {0x44, 1, 0, 0b1'11111'00}).End().Build()});
  for (const Case& c : cases) {
    PreloaderMovie m;
    EXPECT_FALSE(m.ReadBytes(c.bytes.data(), c.bytes.size())) << c.what;
    EXPECT_EQ(m.Status(), PreloaderStatus::kReadFailure) << c.what;
    EXPECT_EQ(m.lastError, kPreloaderReadError) << c.what;
    EXPECT_EQ(m.TagBytes(), 0u) << c.what;
    EXPECT_EQ(m.FrameCount(), 0u) << c.what;
    EXPECT_EQ(m.Version(), 5) << c.what;
  }
}

TEST(PreloaderMovieTest, ReadsCompressedMoviesLikeUncompressedOnes) {
  const Bytes fws = MovieBuilder(8).Tag(4, {1, 0, 5, 0, 0}).ShowFrame().ShowFrame().End().Build();
  const Bytes cws = Compress(fws);
  PreloaderMovie plain;
  PreloaderMovie packed;
  ASSERT_TRUE(plain.ReadBytes(fws.data(), fws.size()));
  ASSERT_TRUE(packed.ReadBytes(cws.data(), cws.size())) << packed.lastError;
  EXPECT_EQ(packed.Version(), 8);
  EXPECT_EQ(packed.FrameCount(), 2u);
  EXPECT_EQ(packed.FrameRect(), plain.FrameRect());
  ASSERT_EQ(packed.TagBytes(), plain.TagBytes());
  EXPECT_EQ(0, std::memcmp(packed.Tags().Data(), plain.Tags().Data(), plain.TagBytes()));

  Bytes cut(cws.begin(), cws.begin() + cws.size() / 2);
  PreloaderMovie m;
  EXPECT_FALSE(m.ReadBytes(cut.data(), cut.size()));
  Bytes garbage = cws;
  garbage[8] ^= 0xFF;  // zlib header broken
  EXPECT_FALSE(m.ReadBytes(garbage.data(), garbage.size()));
  Bytes huge = cws;
  huge[7] = 0x7F;  // claims about 2 GB
  EXPECT_FALSE(m.ReadBytes(huge.data(), huge.size()));
  EXPECT_EQ(m.Status(), PreloaderStatus::kReadFailure);
}

TEST(PreloaderMovieTest, ReadsFilesAndReportsMissingOnes) {
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/preloader_test.swf";
  const Bytes movie = MovieBuilder().ShowFrame().End().Build();
  {
    std::ofstream f(path, std::ios::binary);
    // More than one 4096-byte piece, so the piecewise reading is exercised.
    const Bytes pad = MovieBuilder().Tag(43, Bytes(9000, 'x')).ShowFrame().End().Build();
    f.write(reinterpret_cast<const char*>(pad.data()), static_cast<std::streamsize>(pad.size()));
  }
  PreloaderMovie m;
  ASSERT_TRUE(m.ReadFile(path)) << m.lastError;
  EXPECT_EQ(m.FrameCount(), 1u);
  EXPECT_EQ(m.TagBytes(), 6u + 9000u + 2u);
  EXPECT_FALSE(m.ReadFile(path + ".missing"));
  EXPECT_EQ(m.lastError, kPreloaderReadError);
  EXPECT_EQ(m.TagBytes(), 0u);
  std::remove(path.c_str());
}

TEST(PreloaderMovieTest, ReadsAPreloaderOfManyKilobytesAgainForEveryPart) {
  // 40 KB of tags makes the copy grow a few steps per read; each part reads it again.
  const Bytes movie = MovieBuilder().Tag(43, Bytes(40000, 'x')).ShowFrame().End().Build();
  PreloaderMovie m;
  for (int part = 1; part <= 200; ++part) {
    ASSERT_TRUE(m.ReadBytes(movie.data(), movie.size())) << "part " << part << ": " << m.lastError;
    ASSERT_EQ(m.TagBytes(), 6u + 40000u + 2u);
  }
}

TEST(PreloaderMovieTest, ResolvesLoaderPaths) {
  EXPECT_EQ(PreloaderMovie::ResolvePath("/opt/q/", "/home/u/intro.swf"), "/home/u/intro.swf");
  EXPECT_EQ(PreloaderMovie::ResolvePath("/opt/q/", "C:\\movies\\intro.swf"), "C:/movies/intro.swf");
  EXPECT_EQ(PreloaderMovie::ResolvePath("/opt/q/", "loaders\\\\intro.swf"),
            "/opt/q/loaders/intro.swf");
}

// Mutations of a valid movie must never read outside the input (checked by the sanitizers)
// and either succeed or fail cleanly.
TEST(PreloaderMovieTest, SurvivesRandomCorruption) {
  // clang-format off
  const Bytes placeObject2 = {0x7E, 7, 0, 3, 0, 0b1'00010'01, 0, 0, 0b01'0010'00, 0, 9, 0,
                              'n', 0, 12, 0};
  // clang-format on
  const Bytes base = MovieBuilder()
                         .Tag(26, placeObject2)
                         .Tag(4, {1, 0, 5, 0, 0})
                         .Tag(28, {9, 0})
                         .ShowFrame()
                         .End()
                         .Build();
  std::mt19937 rng(12345);
  PreloaderMovie m;
  for (int i = 0; i < 3000; ++i) {
    Bytes b = base;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) b[8 + rng() % (b.size() - 8)] = static_cast<uint8_t>(rng());
    b.resize(8 + rng() % (b.size() - 7));
    // A heap copy of exactly the input size lets the address sanitizer see any overread.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size()]);
    std::memcpy(exact.get(), b.data(), b.size());
    if (m.ReadBytes(exact.get(), b.size())) {
      EXPECT_EQ(m.Status(), PreloaderStatus::kOk);
    } else {
      EXPECT_EQ(m.TagBytes(), 0u);
    }
  }
}

}  // namespace
}  // namespace quillon
