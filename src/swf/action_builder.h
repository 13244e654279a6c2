// Emits SWF 5 action records and the fixed scripts the movies carry, each script as one
// DoAction tag on a SwfWriter.
#pragma once

#include <cstdint>
#include <string_view>

#include "swf/swf_writer.h"

namespace quillon {

enum class ActionCode : uint8_t {
  kEnd = 0x00,
  kPlay = 0x06,
  kStop = 0x07,
  kStopSounds = 0x09,
  kPop = 0x17,
  kGetVariable = 0x1C,
  kSetVariable = 0x1D,
  kSetProperty = 0x23,
  kCallMethod = 0x52,
  kGotoFrame = 0x81,
  kGetUrl = 0x83,
  kSetTarget = 0x8B,
  kPush = 0x96,
  kGetUrl2 = 0x9A,
};

// GetUrl2 flag: the target names a movie clip or level (loadMovie rather than a window).
constexpr uint8_t kGetUrl2LoadTarget = 0x40;

// Scripts are straight sequences without branches, so the only length to patch is the
// DoAction tag's own (and, in the link button, its action offset, which the caller keeps).
// Strings are written up to their first NUL, as the zero-terminated format can carry no more.
class ActionBuilder {
 public:
  explicit ActionBuilder(SwfWriter& writer) : w_(writer) {}

  // --- records ----------------------------------------------------------------------------
  void BeginAction();
  // The end record 0x00, then the tag is closed.
  void EndAction();
  void PushString(std::string_view s);
  void PushFloat(float f);
  void GetVariable();
  void SetVariable();
  void SetProperty();
  void GetUrl(std::string_view url, std::string_view target);
  void GetUrl2(std::string_view url, std::string_view target, uint8_t flags);
  void LoadTarget(std::string_view url, std::string_view target, uint8_t flags);
  // 0-based frame number.
  void GotoFrame(uint16_t frame);
  void Play();
  void Stop();
  // For opcodes without an operation of their own.
  void PutByte(uint8_t b);
  void PutLong(uint32_t v);
  // An action with data: opcode, 16-bit length, data (for set target and the like).
  void PutAction(ActionCode code, const void* data, uint16_t length);

  // --- fixed scripts (one DoAction tag each) ----------------------------------------------
  // quality: 1 low, 2 medium, 3 high, 4 best.
  void SetQualityScript(uint32_t quality);
  void HideCursorScript();
  void LoadMovieScript(std::string_view url, std::string_view target);
  void UnloadScript(std::string_view target);
  void GetUrlScript(std::string_view url, std::string_view target);
  void GotoScript(uint16_t frame, bool play);
  void StopScript();
  void StopAllScript();
  void LoadFromVariableScript(std::string_view name, std::string_view target);
  // Variables a part uses to find its neighbours: thisPartNum, prevPart, nextPart,
  // firstPart, with file names built on baseName (normally "encoded").
  void PartVariablesScript(std::string_view baseName, uint32_t part, bool last);
  // User variables from "name,value" lines, each ended by a line feed (an unterminated last
  // line is not a line). Names and values are trimmed of blanks and control characters, and
  // a backslash-n in a value becomes a line feed. One DoAction holds all of them; nothing is
  // written when no line has a comma.
  void SetVariablesScript(std::string_view list);

 private:
  SwfWriter& w_;
};

}  // namespace quillon
