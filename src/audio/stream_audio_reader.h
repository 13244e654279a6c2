// The stream reader: the first sound track of any file FFmpeg reads, decoded to 16-bit PCM
// (8-bit PCM tracks stay 8-bit), at most two channels, at the track's own rate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_reader.h"

namespace quillon {

class StreamAudioReader : public AudioReader {
 public:
  StreamAudioReader();
  ~StreamAudioReader() override;

  [[nodiscard]] bool Open(const std::string& path) override;
  void Close() override;

 protected:
  int64_t Fetch(uint64_t bytes, ByteBuffer& out) override;

 private:
  struct Decoder;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace quillon
