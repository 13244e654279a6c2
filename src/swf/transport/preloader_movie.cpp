#include "swf/transport/preloader_movie.h"

namespace quillon {

PreloaderMovie::PreloaderMovie()
    : tags_(kTagBufferInitial, kTagBufferIncrement, kTagBufferFactor) {}

std::string PreloaderMovie::ResolvePath(std::string_view baseFolder,
                                        std::string_view loaderSetting) {
  return std::string(baseFolder) + std::string(loaderSetting);
}

bool PreloaderMovie::ReadFile(const std::string&) {
  Fail(PreloaderStatus::kReadFailure);
  return false;
}

bool PreloaderMovie::ReadBytes(const uint8_t* data, std::size_t size) {
  return ReadUncompressed(data, size);
}

bool PreloaderMovie::ReadUncompressed(const uint8_t*, std::size_t) {
  Fail(PreloaderStatus::kReadFailure);
  return false;
}

void PreloaderMovie::Fail(PreloaderStatus status) {
  status_ = status;
  lastError = kPreloaderReadError;
  tags_.Clear();
  version_ = 5;
  frameRect_ = SwfRect{};
  frameCount_ = 0;
}

}  // namespace quillon
