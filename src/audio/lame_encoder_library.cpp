// The MP3 encoder interface on libmp3lame, opened at run time so that the program runs (with
// ADPCM only) where the library is not installed.
#include <dlfcn.h>
#include <lame/lame.h>

#include <map>
#include <memory>
#include <type_traits>

#include "audio/mp3_encoder_library.h"

namespace quillon {
namespace {

constexpr const char* kLameLibraryName = "libmp3lame.so.0";

// LAME's output bound for one call: 1.25 x frames + 7200, with room to spare for the
// largest chunk given below.
constexpr uint32_t kOutBufferSize = 16384;

struct DlCloser {
  void operator()(void* handle) const {
    if (handle != nullptr) dlclose(handle);
  }
};

class LameEncoderLibrary final : public Mp3EncoderLibrary {
 public:
  ~LameEncoderLibrary() override { Unload(); }

  Mp3LoadResult Load() override {
    if (handle_) return Mp3LoadResult::kLoaded;
    std::unique_ptr<void, DlCloser> handle(dlopen(kLameLibraryName, RTLD_NOW | RTLD_LOCAL));
    if (!handle) return Mp3LoadResult::kNotFound;
    bool complete = true;
    auto resolve = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle.get(), name));
      if (fn == nullptr) complete = false;
    };
    resolve(init_, "lame_init");
    resolve(setInRate_, "lame_set_in_samplerate");
    resolve(setOutRate_, "lame_set_out_samplerate");
    resolve(setChannels_, "lame_set_num_channels");
    resolve(setMode_, "lame_set_mode");
    resolve(setBitRate_, "lame_set_brate");
    resolve(setVbr_, "lame_set_VBR");
    resolve(setVbrMean_, "lame_set_VBR_mean_bitrate_kbps");
    resolve(setQuality_, "lame_set_quality");
    resolve(setVbrTag_, "lame_set_bWriteVbrTag");
    resolve(initParams_, "lame_init_params");
    resolve(encode_, "lame_encode_buffer_interleaved");
    resolve(flush_, "lame_encode_flush");
    resolve(close_, "lame_close");
    resolve(version_, "get_lame_version_numerical");
    if (!complete) return Mp3LoadResult::kMissingEntryPoint;
    handle_ = std::move(handle);
    return Mp3LoadResult::kLoaded;
  }

  void Unload() override {
    if (!handle_) return;
    for (auto& [id, stream] : streams_) close_(stream.flags);
    streams_.clear();
    handle_.reset();
  }

  bool IsLoaded() const override { return handle_ != nullptr; }

  void Version(Mp3Version& version) override {
    lame_version_t v{};
    version_(&v);
    version.dllMajorVersion = static_cast<uint8_t>(v.major);
    version.dllMinorVersion = static_cast<uint8_t>(v.minor);
    version.majorVersion = static_cast<uint8_t>(v.major);
    version.minorVersion = static_cast<uint8_t>(v.minor);
  }

  uint32_t InitStream(const Mp3Config& config, uint32_t& maxSamples, uint32_t& outBufferSize,
                      uint32_t& stream) override {
    lame_global_flags* flags = init_();
    if (flags == nullptr) return 1;
    const bool mono = config.nMode == kMp3ModeMono;
    // Input always arrives as left/right pairs (a mono source doubled); mono output is
    // LAME's own downmix of the equal pair.
    setInRate_(flags, static_cast<int>(config.dwSampleRate));
    setOutRate_(flags, static_cast<int>(config.dwReSampleRate));
    setChannels_(flags, 2);
    setMode_(flags, mono ? MONO : config.nMode == kMp3ModeStereo ? STEREO : JOINT_STEREO);
    if (config.bEnableVBR) {
      setVbr_(flags, vbr_abr);
      setVbrMean_(flags, static_cast<int>(config.dwVbrAbr_bps / 1000));
    } else {
      setVbr_(flags, vbr_off);
      setBitRate_(flags, static_cast<int>(config.dwBitrate));
    }
    setQuality_(flags, config.nPreset == kMp3PresetHighQuality ? 2 : 5);
    // The sound stream is cut into raw frames; a Xing/LAME tag frame would be played as noise.
    setVbrTag_(flags, 0);
    if (initParams_(flags) < 0) {
      close_(flags);
      return 1;
    }
    const uint32_t frameSamples = config.dwReSampleRate >= 32000 ? 1152 : 576;
    maxSamples = mono ? frameSamples : 2 * frameSamples;
    outBufferSize = kOutBufferSize;
    stream = nextStream_++;
    if (nextStream_ == 0) nextStream_ = 1;
    streams_[stream] = Stream{flags, mono};
    return 0;
  }

  uint32_t EncodeChunk(uint32_t stream, uint32_t sampleCount, const int16_t* samples,
                       uint8_t* output, uint32_t& bytesWritten) override {
    bytesWritten = 0;
    auto it = streams_.find(stream);
    if (it == streams_.end()) return 1;
    const int frames = static_cast<int>(it->second.mono ? sampleCount : sampleCount / 2);
    const int rc = encode_(it->second.flags, const_cast<short*>(samples), frames, output,
                           static_cast<int>(kOutBufferSize));
    if (rc < 0) return 1;
    bytesWritten = static_cast<uint32_t>(rc);
    return 0;
  }

  uint32_t DeinitStream(uint32_t stream, uint8_t* output, uint32_t& bytesWritten) override {
    bytesWritten = 0;
    auto it = streams_.find(stream);
    if (it == streams_.end()) return 1;
    const int rc = flush_(it->second.flags, output, static_cast<int>(kOutBufferSize));
    if (rc < 0) return 1;
    bytesWritten = static_cast<uint32_t>(rc);
    return 0;
  }

  uint32_t CloseStream(uint32_t stream) override {
    auto it = streams_.find(stream);
    if (it == streams_.end()) return 1;
    close_(it->second.flags);
    streams_.erase(it);
    return 0;
  }

  uint32_t WriteVBRHeader(const char*) override { return 1; }

 private:
  struct Stream {
    lame_global_flags* flags = nullptr;
    bool mono = false;
  };

  std::unique_ptr<void, DlCloser> handle_;
  std::map<uint32_t, Stream> streams_;
  uint32_t nextStream_ = 1;

  decltype(&lame_init) init_ = nullptr;
  decltype(&lame_set_in_samplerate) setInRate_ = nullptr;
  decltype(&lame_set_out_samplerate) setOutRate_ = nullptr;
  decltype(&lame_set_num_channels) setChannels_ = nullptr;
  decltype(&lame_set_mode) setMode_ = nullptr;
  decltype(&lame_set_brate) setBitRate_ = nullptr;
  decltype(&lame_set_VBR) setVbr_ = nullptr;
  decltype(&lame_set_VBR_mean_bitrate_kbps) setVbrMean_ = nullptr;
  decltype(&lame_set_quality) setQuality_ = nullptr;
  decltype(&lame_set_bWriteVbrTag) setVbrTag_ = nullptr;
  decltype(&lame_init_params) initParams_ = nullptr;
  decltype(&lame_encode_buffer_interleaved) encode_ = nullptr;
  decltype(&lame_encode_flush) flush_ = nullptr;
  decltype(&lame_close) close_ = nullptr;
  decltype(&get_lame_version_numerical) version_ = nullptr;
};

}  // namespace

std::unique_ptr<Mp3EncoderLibrary> CreateLameEncoderLibrary() {
  return std::make_unique<LameEncoderLibrary>();
}

}  // namespace quillon
