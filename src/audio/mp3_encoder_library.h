// The six-entry-point MP3 encoder interface that AudioStore drives, its configuration and
// version records, and the factory of the real encoder loaded at run time.
#pragma once

#include <cstdint>
#include <memory>

namespace quillon {

#pragma pack(push, 1)
// The stream configuration, 331 bytes; everything not named stays zero.
struct Mp3Config {
  uint32_t dwConfig = 0;         // 256: the LAME configuration kind
  uint32_t dwStructVersion = 0;  // 1
  uint32_t dwStructSize = 0;     // 331
  uint32_t dwSampleRate = 0;     // input rate (the source track's)
  uint32_t dwReSampleRate = 0;   // output rate of the MP3 stream
  int32_t nMode = 0;             // kMp3ModeStereo, kMp3ModeJointStereo, kMp3ModeMono
  uint32_t dwBitrate = 0;        // kbit/s
  uint32_t dwMaxBitrate = 0;
  int32_t nPreset = 0;         // 2: high quality
  uint32_t dwMpegVersion = 0;  // 1 MPEG-1, 0 MPEG-2
  uint32_t dwPsyModel = 0;
  uint32_t dwEmphasis = 0;
  int32_t bPrivate = 0;
  int32_t bCRC = 0;
  int32_t bCopyright = 0;
  int32_t bOriginal = 0;
  int32_t bWriteVBRHeader = 0;
  int32_t bEnableVBR = 0;  // 1 under ABR
  int32_t nVBRQuality = 0;
  uint32_t dwVbrAbr_bps = 0;  // average bit rate in bit/s under ABR
  uint8_t reserved[251] = {};
};

// The version record, 268 bytes.
struct Mp3Version {
  uint8_t dllMajorVersion = 0;
  uint8_t dllMinorVersion = 0;
  uint8_t majorVersion = 0;  // encoder engine
  uint8_t minorVersion = 0;
  uint8_t rest[264] = {};
};
#pragma pack(pop)

static_assert(sizeof(Mp3Config) == 331);
static_assert(sizeof(Mp3Version) == 268);

constexpr int32_t kMp3ModeStereo = 0;
constexpr int32_t kMp3ModeJointStereo = 1;
constexpr int32_t kMp3ModeMono = 3;
constexpr uint32_t kMp3ConfigLame = 256;
constexpr int32_t kMp3PresetHighQuality = 2;
// Samples of silence a decoded stream starts with before the first input sample: the
// encoder's own delay (576) and a standard decoder's (529), the same at every rate we write.
constexpr int16_t kMp3StreamDelaySamples = 1105;

enum class Mp3LoadResult { kLoaded, kNotFound, kMissingEntryPoint };

// One implementation loads the real encoder; tests substitute a fake. Calls other than Load,
// Unload and IsLoaded are valid only while loaded. Result codes: 0 is success.
class Mp3EncoderLibrary {
 public:
  virtual ~Mp3EncoderLibrary() = default;

  virtual Mp3LoadResult Load() = 0;
  virtual void Unload() = 0;
  virtual bool IsLoaded() const = 0;

  virtual void Version(Mp3Version& version) = 0;
  // maxSamples: the most 16-bit values (stereo) or frames (mono) one EncodeChunk takes;
  // outBufferSize: the most bytes one EncodeChunk or DeinitStream writes.
  virtual uint32_t InitStream(const Mp3Config& config, uint32_t& maxSamples,
                              uint32_t& outBufferSize, uint32_t& stream) = 0;
  // samples always holds interleaved left/right pairs; see maxSamples for the count's unit.
  virtual uint32_t EncodeChunk(uint32_t stream, uint32_t sampleCount, const int16_t* samples,
                               uint8_t* output, uint32_t& bytesWritten) = 0;
  virtual uint32_t DeinitStream(uint32_t stream, uint8_t* output, uint32_t& bytesWritten) = 0;
  virtual uint32_t CloseStream(uint32_t stream) = 0;
  // Part of the interface, but the stream carries no VBR header frame, so never called.
  virtual uint32_t WriteVBRHeader(const char* path) = 0;
};

// The encoder behind the interface: libmp3lame, opened with dlopen on first Load.
std::unique_ptr<Mp3EncoderLibrary> CreateLameEncoderLibrary();

}  // namespace quillon
