#include "swf/action_builder.h"

#include <algorithm>
#include <bit>
#include <string>

namespace quillon {
namespace {

// Longest text that fits a record whose 16-bit length also counts `overhead` bytes.
std::string_view FitText(std::string_view s, size_t overhead) {
  const size_t nul = s.find('\0');
  if (nul != std::string_view::npos) s = s.substr(0, nul);
  const size_t room = 0xFFFF - overhead;
  return s.size() > room ? s.substr(0, room) : s;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string UnescapeLineFeeds(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

void ActionBuilder::BeginAction() {
  w_.BeginTag(TagCode::kDoAction);
}

void ActionBuilder::EndAction() {
  w_.Put8(static_cast<uint8_t>(ActionCode::kEnd));
  w_.EndTag();
}

void ActionBuilder::PushString(std::string_view s) {
  s = FitText(s, 2);
  w_.Put8(static_cast<uint8_t>(ActionCode::kPush));
  w_.Put16(static_cast<uint16_t>(s.size() + 2));  // type byte, text, terminator
  w_.Put8(0x00);                                  // push type: string
  w_.Append(s.data(), static_cast<uint32_t>(s.size()));
  w_.Put8(0x00);
}

void ActionBuilder::PushFloat(float f) {
  w_.Put8(static_cast<uint8_t>(ActionCode::kPush));
  w_.Put16(5);
  w_.Put8(0x01);  // push type: 32-bit float
  w_.Put32(std::bit_cast<uint32_t>(f));
}

void ActionBuilder::GetVariable() {
  w_.Put8(static_cast<uint8_t>(ActionCode::kGetVariable));
}

void ActionBuilder::SetVariable() {
  w_.Put8(static_cast<uint8_t>(ActionCode::kSetVariable));
}

void ActionBuilder::SetProperty() {
  w_.Put8(static_cast<uint8_t>(ActionCode::kSetProperty));
}

void ActionBuilder::GetUrl(std::string_view url, std::string_view target) {
  url = FitText(url, 2);
  target = FitText(target, 2 + url.size());
  w_.Put8(static_cast<uint8_t>(ActionCode::kGetUrl));
  w_.Put16(static_cast<uint16_t>(url.size() + target.size() + 2));
  w_.Append(url.data(), static_cast<uint32_t>(url.size()));
  w_.Put8(0x00);
  w_.Append(target.data(), static_cast<uint32_t>(target.size()));
  w_.Put8(0x00);
}

void ActionBuilder::GetUrl2(std::string_view url, std::string_view target, uint8_t flags) {
  PushString(url);
  PushString(target);
  w_.Put8(static_cast<uint8_t>(ActionCode::kGetUrl2));
  w_.Put16(1);
  w_.Put8(flags);
}

void ActionBuilder::LoadTarget(std::string_view url, std::string_view target, uint8_t flags) {
  GetUrl2(url, target, flags | kGetUrl2LoadTarget);
}

void ActionBuilder::GotoFrame(uint16_t frame) {
  w_.Put8(static_cast<uint8_t>(ActionCode::kGotoFrame));
  w_.Put16(2);
  w_.Put16(frame);
}

void ActionBuilder::Play() {
  w_.Put8(static_cast<uint8_t>(ActionCode::kPlay));
}

void ActionBuilder::Stop() {
  w_.Put8(static_cast<uint8_t>(ActionCode::kStop));
}

void ActionBuilder::PutByte(uint8_t b) {
  w_.Put8(b);
}

void ActionBuilder::PutLong(uint32_t v) {
  w_.Put32(v);
}

void ActionBuilder::PutAction(ActionCode code, const void* data, uint16_t length) {
  w_.Put8(static_cast<uint8_t>(code));
  w_.Put16(length);
  if (length > 0) w_.Append(data, length);
}

void ActionBuilder::SetQualityScript(uint32_t quality) {
  BeginAction();
  PushString("");  // the property belongs to the movie itself
  if (quality == 2) {
    PushFloat(19.0f);  // property: quality
    PushString("MEDIUM");
  } else {
    PushFloat(16.0f);  // property: high-quality switch
    // 1 low -> 0, 3 high -> 1, 4 best -> 2; below 1 there is no lower setting than 0.
    const uint32_t value = quality < 1 ? 0 : quality - 1 - (quality > 2 ? 1 : 0);
    PushString(std::to_string(value));
  }
  SetProperty();
  EndAction();
}

void ActionBuilder::HideCursorScript() {
  // Mouse.hide(): push 0.0 (argument count, as a double) and "Mouse", get variable,
  // push "hide", call method, pop, end record.
  static constexpr uint8_t kScript[32] = {0x96, 0x10, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x4D, 0x6F, 0x75,
                                          0x73, 0x65, 0x00, 0x1C, 0x96, 0x06, 0x00, 0x00,
                                          0x68, 0x69, 0x64, 0x65, 0x00, 0x52, 0x17, 0x00};
  BeginAction();
  w_.Append(kScript, sizeof kScript);
  EndAction();
}

void ActionBuilder::LoadMovieScript(std::string_view url, std::string_view target) {
  BeginAction();
  LoadTarget(url, target, 0);
  EndAction();
}

void ActionBuilder::UnloadScript(std::string_view target) {
  BeginAction();
  LoadTarget("", target, 0);
  EndAction();
}

void ActionBuilder::GetUrlScript(std::string_view url, std::string_view target) {
  BeginAction();
  GetUrl(url, target);
  EndAction();
}

void ActionBuilder::GotoScript(uint16_t frame, bool play) {
  BeginAction();
  GotoFrame(frame);
  if (play) Play();
  EndAction();
}

void ActionBuilder::StopScript() {
  BeginAction();
  Stop();
  EndAction();
}

void ActionBuilder::StopAllScript() {
  static constexpr char kOverlay[] = "_overlay";  // with its terminator: 9 bytes
  static constexpr char kMainTimeline[] = "";
  BeginAction();
  PutAction(ActionCode::kSetTarget, kOverlay, sizeof kOverlay);
  Stop();
  PutAction(ActionCode::kSetTarget, kMainTimeline, sizeof kMainTimeline);
  PutByte(static_cast<uint8_t>(ActionCode::kStopSounds));
  Stop();
  EndAction();
}

void ActionBuilder::LoadFromVariableScript(std::string_view name, std::string_view target) {
  BeginAction();
  PushString(name);
  GetVariable();
  PushString(target);
  w_.Put8(static_cast<uint8_t>(ActionCode::kGetUrl2));
  w_.Put16(1);
  w_.Put8(kGetUrl2LoadTarget);
  EndAction();
}

void ActionBuilder::PartVariablesScript(std::string_view baseName, uint32_t part, bool last) {
  const std::string base(baseName);
  BeginAction();
  PushString("thisPartNum");
  PushString(std::to_string(part));
  SetVariable();
  if (part > 1) {
    PushString("prevPart");
    PushString(part == 2 ? base + ".swf" : base + std::to_string(part - 1) + ".swf");
    SetVariable();
  }
  if (!last) {
    PushString("nextPart");
    PushString(base + std::to_string(part + 1) + ".swf");
    SetVariable();
  }
  if (part > 1) {
    PushString("firstPart");
    PushString(base + ".swf");
    SetVariable();
  }
  EndAction();
}

void ActionBuilder::SetVariablesScript(std::string_view list) {
  bool open = false;
  for (size_t lineEnd = list.find('\n'); lineEnd != std::string_view::npos;
       lineEnd = list.find('\n')) {
    const std::string_view line = list.substr(0, lineEnd);
    list.remove_prefix(lineEnd + 1);
    const size_t comma = line.find(',');
    if (comma == std::string_view::npos) continue;
    if (!open) {
      BeginAction();
      open = true;
    }
    PushString(TrimBlanks(line.substr(0, comma)));
    PushString(UnescapeLineFeeds(TrimBlanks(line.substr(comma + 1))));
    SetVariable();
  }
  if (open) EndAction();
}

}  // namespace quillon
