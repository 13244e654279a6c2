// The stream reader slot on this platform: any container and codec FFmpeg reads, decoded
// sequentially and converted to Y, Cb, Cr frames.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "video/video_reader.h"

namespace quillon {

// Frames are decoded forward from wherever the decoder stands; it seeks (to the keyframe at or
// before the wanted time) only for a backward step or a far jump ahead. Every decode happens
// under one lock, so the encoding and preview threads may both ask for frames.
//
// The picture at a time is the last one starting no later than it, where a picture starting
// within the following millisecond already counts (callers ask for truncated times). Over a
// stretch that failed to decode FrameAtTime still gives the last good picture, as a player
// shows it, but IsReadableAt is false there, so the readable-end search cuts damaged tails.
// Before the first picture that decodes, that picture stands in (a damaged first frame must
// not make the whole movie unreadable). Every picture is delivered at the size found at Open,
// whatever the decoder reports later. Lengths and times count from the stream's first
// timestamp; a length the container does not state is found by reading the packets.
//
// A readability question has no use for a picture that cannot be the one at its time: the
// decoder leaves out the non-reference pictures (nothing is decoded from them) that end by then.
// The answer is taken from such a pass only when the pass saw no failure and its picture at the
// time lies after everything left out; otherwise the question is asked again of a fresh decoder
// that leaves out nothing, so the answers are those of decoding every picture.
//
// Readability decides the movie's length, which must not vary from run to run or machine to
// machine: its answers are those of decoding with one thread, whose errors are the same every
// time. Pictures are decoded with frame threads. The questions of the readable-end search at
// Open are first put to a decoder with frame threads (H.264 and HEVC): its answer stands only
// when its pass went without the least trouble (no error, no damaged picture or packet, no
// complaint from the library, no picture missing), where frame threads decode exactly what one
// thread does. On any trouble the one-thread decoder is asked, as it would have been from the
// start.
//
// The pictures must not vary either, and on damage frame threads conceal errors by timing. So
// the decoder of pictures watches for the same trouble, since it opened, before it hands out
// each picture. The library complains of a damaged packet while decoding it, which is before
// any picture decoded from it can come out (even one shown before it). On the first trouble a
// one-thread decoder takes over before that picture is handed out, brought to where it would
// stand had it served every request so far (the last repositioning repeated, then decoded
// forward), and pictures keep one thread until the next Open. Every picture handed out before
// was one that one thread makes too, so the whole sequence is one thread's. That holds where
// the decoder notices the damage: HEVC decodes some damaged slice data without a word, and its
// pictures from there may still vary with frame threads.
class FfmpegVideoReader final : public VideoReader {
 public:
  // Decoding activity since Open, for tests and measurements.
  struct Stats {
    uint64_t framesDecoded = 0;      // pictures the decoder produced
    uint64_t seeks = 0;              // repositionings of the demuxer (the one at Open excluded)
    uint64_t skippable = 0;          // packets the decoder was allowed to leave out
    uint64_t oneThreadSwitches = 0;  // pictures went over to one thread after trouble
  };

  FfmpegVideoReader();
  ~FfmpegVideoReader() override;

  int32_t TimeToSample(uint32_t ms) const override;
  uint32_t SampleToTime(int32_t sample) const override;
  [[nodiscard]] bool Open(const std::string& path) override;
  void Close() override;
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override;
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override;
  bool IsReadableAt(uint32_t ms) override;

  Stats GetStats() const;
  // For tests and measurements: off, readability questions decode every picture (the answers
  // stay the same; only the work does not). Takes effect from the next question, Open's included.
  void SetReadabilityShortcut(bool on);
  // For tests and measurements: the threads of the decoders that make pictures (0: as many as
  // the machine has). Takes effect from the next Open; the first try at the readable end uses as
  // many.
  void SetPictureThreads(int threads);

 private:
  struct Decoder;
  struct PacketSpan;
  // How a one-thread decoder comes to stand where the pictures' decoder with frame threads
  // stands: the last repositioning (a seek to seekedTo, or a fresh open when -1), then the
  // requests served after it (the first, then the latest time asked; -1: none).
  struct PictureHistory {
    int64_t seekedTo = -1;
    int64_t firstMs = -1;
    int64_t latestMs = -1;
  };
  // What stands at a time: nothing, the last good picture over a stretch that failed to decode
  // (or after which the file broke off), or a readable picture.
  enum class Position { kNone, kDamaged, kReadable };
  // What a decoder serves: pictures (frame threads), readability questions (one thread), or a
  // first try at the readable-end search's questions with frame threads.
  enum class Use { kPictures, kSearch, kThreadedSearch };

  bool OpenLocked(const std::string& path);
  // `previous`: a decoder already open on the same file, whose stream facts a container that
  // states everything in its header need not be read for again.
  bool OpenDecoder(Decoder& d, const Decoder* previous = nullptr);
  // Reads the video and sound packets of a second demuxer on the same file, without decoding:
  // from the start when fromPts is AV_NOPTS_VALUE, else from the keyframe at or before fromPts.
  static PacketSpan ScanPackets(const Decoder& d, int64_t fromPts);
  // Notes the arrival of the picture of the packet at pts from a decoder with frame threads.
  void Arrived(Decoder& d, int64_t pts);
  // Chooses whether the decoder may leave out the picture of the packet about to be sent.
  void ChooseSkip(Decoder& d);
  // The pending picture becomes the current one.
  static void TakePending(Decoder& d);
  // A fresh demuxer and decoder on the same file, for `use`: the only exact way back to the start.
  bool Reopen(Use use);
  // To the keyframe at or before ms (reopening when the demuxer cannot seek).
  bool SeekTo(int64_t ms);
  // Decodes forward to the next good picture, which becomes the pending one.
  bool DecodeNext();
  // Leaves the decoder's current picture at the one shown at ms. Unless picturesMatter, pictures
  // that cannot be the one at ms may be left out.
  Position PositionAt(uint32_t ms, bool picturesMatter);
  // PositionAt from where the decoder stands, without choosing to seek: decodes forward to t
  // (going further back only when nothing at or before t decoded).
  Position DecodeTo(int64_t t, bool picturesMatter);
  bool ReadableAt(uint32_t ms);
  // The answer of a pass that may leave pictures out, when it stands for the answer of
  // decoding every picture with one thread; false when it does not (readable is then left
  // alone and the failures the pass placed are dropped). frameThreads: the decoder has them,
  // and any trouble at all voids the pass.
  bool SkippingAnswer(uint32_t ms, bool frameThreads, bool& readable);
  // Replaces the decoder with frame threads by a one-thread one standing where that one would
  // stand had it been asked every question so far.
  bool ToOneThread();
  bool OneThreadAnswer(uint32_t ms);
  // Everything that counts as trouble for a decoder with frame threads, summed: it only grows.
  uint64_t TroubleSoFar() const;
  // Records a request the pictures' decoder with frame threads served without trouble.
  void NoteCleanRequest(uint32_t ms, bool repositioned);
  // Replaces the pictures' decoder with frame threads by a one-thread one standing where that
  // one would stand had it served every request so far; pictures keep one thread from then on.
  bool PicturesToOneThread();
  void CloseLocked();

  // Recursive: Open runs the readable-end search, which asks IsReadableAt.
  mutable std::recursive_mutex mutex_;
  std::unique_ptr<Decoder> decoder_;
  Stats stats_;
  int quarterTurns_ = 0;  // clockwise turns for display; width and height are the turned ones
  bool readabilityShortcut_ = true;
  int pictureThreads_ = 0;
  // Latest start (ms) of a packet the decoder was allowed to leave out during the current
  // readability question; -1 when none.
  int64_t skippableStart_ = -1;
  bool damagedPacketSeen_ = false;  // during the current readability question
  // Trouble a decoder with frame threads met that leaves no failure behind (a picture that never
  // came, a packet the decoder would not take): counted, never reset.
  uint64_t hitches_ = 0;
  // Damaged packets and demuxer errors met since Open (by any decoder).
  uint64_t damagedPackets_ = 0;
  uint64_t abnormalEnds_ = 0;
  // Pictures are decoded with one thread until the next Open (after trouble met with frame
  // threads).
  bool picturesOneThread_ = false;
  // The trouble count when the pictures' decoder began after Open, and what it served since.
  uint64_t troubleAtPictures_ = 0;
  PictureHistory pictureHistory_;
  // The questions the decoder with frame threads answered, in order.
  std::vector<uint32_t> threadedAnswers_;
  // Only packets starting before this time (ms) may be left out; -1: none may.
  int64_t skipBeforeMs_ = -1;
};

}  // namespace quillon
