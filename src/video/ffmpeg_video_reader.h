// The stream reader slot on this platform: any container and codec FFmpeg reads, decoded
// sequentially and converted to Y, Cb, Cr frames.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "video/video_reader.h"
#include "video/yuv_converter.h"

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
// machine: it is decoded with one thread, whose errors are the same every time. Pictures are
// decoded with frame threads.
class FfmpegVideoReader final : public VideoReader {
 public:
  // Decoding activity since Open, for tests and measurements.
  struct Stats {
    uint64_t framesDecoded = 0;  // pictures the decoder produced
    uint64_t seeks = 0;          // repositionings of the demuxer (the one at Open excluded)
    uint64_t skippable = 0;      // packets the decoder was allowed to leave out
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
  // the machine has). Takes effect from the next Open. Readability is always decoded with one.
  void SetPictureThreads(int threads);

 private:
  struct Decoder;
  struct PacketSpan;
  // What stands at a time: nothing, the last good picture over a stretch that failed to decode
  // (or after which the file broke off), or a readable picture.
  enum class Position { kNone, kDamaged, kReadable };

  bool OpenLocked(const std::string& path);
  // `previous`: a decoder already open on the same file, whose stream facts a container that
  // states everything in its header need not be read for again.
  bool OpenDecoder(Decoder& d, const Decoder* previous = nullptr);
  // Reads the video and sound packets of a second demuxer on the same file, without decoding:
  // from the start when fromPts is AV_NOPTS_VALUE, else from the keyframe at or before fromPts.
  static PacketSpan ScanPackets(const Decoder& d, int64_t fromPts);
  // Chooses whether the decoder may leave out the picture of the packet about to be sent.
  void ChooseSkip(Decoder& d);
  // The pending picture becomes the current one.
  static void TakePending(Decoder& d);
  // A fresh demuxer and decoder on the same file: the only exact way back to the start. With
  // singleThreaded, the decoder is one that answers readability questions.
  bool Reopen(bool singleThreaded);
  // To the keyframe at or before ms (reopening when the demuxer cannot seek).
  bool SeekTo(int64_t ms);
  // Decodes forward to the next good picture, which becomes the pending one.
  bool DecodeNext();
  // Leaves the decoder's current picture at the one shown at ms. Unless picturesMatter, pictures
  // that cannot be the one at ms may be left out.
  Position PositionAt(uint32_t ms, bool picturesMatter);
  bool ReadableAt(uint32_t ms);
  std::unique_ptr<FrameImage> ConvertCurrent();
  // The current picture through the converter for 8-bit Y'CbCr: space is the matrix's number,
  // fullRange whether luma spans 0-255.
  std::unique_ptr<FrameImage> ConvertDirect(Decoder& d, const YuvConverter::Planes& planes,
                                            int space, bool fullRange);
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
  // Only packets starting before this time (ms) may be left out; -1: none may.
  int64_t skipBeforeMs_ = -1;
};

}  // namespace quillon
