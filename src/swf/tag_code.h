// The SWF tag codes this system writes or copies, with the format's numbers.
#pragma once

#include <cstdint>

namespace quillon {

enum class TagCode : uint16_t {
  kEnd = 0,
  kShowFrame = 1,
  kDefineShape = 2,
  kFreeCharacter = 3,
  kPlaceObject = 4,
  kRemoveObject = 5,
  kDefineBits = 6,
  kDefineButton = 7,
  kJpegTables = 8,
  kSetBackgroundColor = 9,
  kDefineFont = 10,
  kDefineText = 11,
  kDoAction = 12,
  kDefineFontInfo = 13,
  kDefineSound = 14,
  kStartSound = 15,
  kDefineButtonSound = 17,
  kSoundStreamHead = 18,
  kSoundStreamBlock = 19,
  kDefineBitsLossless = 20,
  kDefineBitsJpeg2 = 21,
  kDefineShape2 = 22,
  kDefineButtonCxform = 23,
  kProtect = 24,
  kPlaceObject2 = 26,
  kRemoveObject2 = 28,
  kDefineShape3 = 32,
  kDefineText2 = 33,
  kDefineButton2 = 34,
  kDefineBitsJpeg3 = 35,
  kDefineBitsLossless2 = 36,
  kDefineEditText = 37,
  kDefineSprite = 39,
  kFrameLabel = 43,
  kSoundStreamHead2 = 45,
  kDefineMorphShape = 46,
  kDefineFont2 = 48,
  kExportAssets = 56,
  kImportAssets = 57,
  kEnableDebugger = 58,
};

constexpr uint16_t ToU16(TagCode code) {
  return static_cast<uint16_t>(code);
}

// Bitmap and sound-block tags that players expect with a long header whatever their length;
// header normalisation never shortens these.
constexpr bool KeepsLongHeader(uint16_t code) {
  return code == 6 || code == 19 || code == 20 || code == 21 || code == 35 || code == 36;
}

}  // namespace quillon
