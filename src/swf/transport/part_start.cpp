// The tags every part starts with (header, stage, user variables, player switches, the link
// button, the preloader merge) and the actions that chain or end the parts.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "settings/trace.h"
#include "swf/action_builder.h"
#include "swf/transport/preloader_movie.h"
#include "swf/transport/transport.h"

namespace quillon {

namespace {

// The stage may be this much smaller or larger than the video in each axis; beyond it a hand-
// edited size would give an empty or inverted stage rectangle, or one no player can show.
constexpr double kMinStagePercent = 1.0;
constexpr double kMaxStagePercent = 1000.0;

// One side of the stage in whole twips: exactly the video at 100 %, never below one twip.
int64_t StageSide(int64_t videoTwips, float percent) {
  const double p = std::isfinite(percent) ? std::clamp(static_cast<double>(percent),
                                                       kMinStagePercent, kMaxStagePercent)
                                          : 100.0;
  return std::max<int64_t>(std::llround(static_cast<double>(videoTwips) * p / 100.0), 1);
}

uint32_t EndTypeCode(const TransportOptions& o) {
  return o.playerFlags & TransportOptions::kPlayerEndTypeMask;
}

uint32_t LinkTypeCode(const TransportOptions& o) {
  return o.playerFlags & TransportOptions::kPlayerLinkTypeMask;
}

}  // namespace

void Transport::ComputeStage(bool withPreloader) {
  const int64_t w = int64_t{width_} * kTwipsPerPixel;
  const int64_t h = int64_t{height_} * kTwipsPerPixel;
  const int64_t sw = StageSide(w, options_.backWidth);
  const int64_t sh = StageSide(h, options_.backHeight);
  if (!withPreloader) {
    // Players take the rectangle's origin as the top-left screen pixel and scale the stage to
    // the element showing it: a stage that is not exactly the video would resample every
    // picture. The origin stays at (0, 0) and the placement centres the video instead.
    stage_ = SwfRect{0, static_cast<int32_t>(sw), 0, static_cast<int32_t>(sh)};
    placement_ =
        SwfMatrix::Scale(kPixelToTwipScale, kPixelToTwipScale, static_cast<int32_t>((sw - w) / 2),
                         static_cast<int32_t>((sh - h) / 2));
    return;
  }
  const SwfRect& r = preloader_->FrameRect();
  stage_ = r;
  const double pw = static_cast<double>(int64_t{r.xMax} - r.xMin);
  const double ph = static_cast<double>(int64_t{r.yMax} - r.yMin);
  // A stage below two twips in an axis cannot be fitted in that axis; fit by the other one
  // rather than dividing by zero (and keep the plain scale when neither can be fitted).
  const double ow = sw / 2 > 0 ? pw / static_cast<double>(2 * (sw / 2)) : -1.0;
  const double oh = sh / 2 > 0 ? ph / static_cast<double>(2 * (sh / 2)) : -1.0;
  double o = 1.0;
  if (ow >= 0.0 && oh >= 0.0) {
    o = std::min(ow, oh);
  } else if (ow >= 0.0) {
    o = ow;
  } else if (oh >= 0.0) {
    o = oh;
  }
  const double scale = std::clamp(std::trunc(o * kPixelToTwipScale), 0.0, 2147483647.0);
  const int64_t fitW = static_cast<int64_t>(std::trunc(o * static_cast<double>(sw)));
  const int64_t fitH = static_cast<int64_t>(std::trunc(o * static_cast<double>(sh)));
  const int64_t tx = static_cast<int64_t>(pw) / 2 - fitW / 2;
  const int64_t ty = static_cast<int64_t>(ph) / 2 - fitH / 2;
  placement_ =
      SwfMatrix::Scale(static_cast<int32_t>(scale), static_cast<int32_t>(scale),
                       static_cast<int32_t>(std::clamp<int64_t>(tx, INT32_MIN, INT32_MAX)),
                       static_cast<int32_t>(std::clamp<int64_t>(ty, INT32_MIN, INT32_MAX)));
}

bool Transport::ReadPreloader() {
  const std::string path = PreloaderMovie::ResolvePath(baseFolder_, options_.playerLoader);
  if (preloader_->ReadFile(path)) return true;
  if (preloader_->Status() == PreloaderStatus::kOutOfMemory) {
    Fail(TransportStatus::kError, EngineErrorText(3));
  } else {
    Fail(TransportStatus::kError, kPreloaderReadError);
  }
  return false;
}

void Transport::WriteLinkButton() {
  const uint16_t rectId = shapeId_--;
  const uint16_t buttonId = shapeId_--;
  writer_.WriteRectangleShape(rectId, stage_.xMin, stage_.yMin, stage_.xMax, stage_.yMax, true);

  ByteBuffer& out = *writer_.Output();
  writer_.BeginTag(TagCode::kDefineButton2);
  writer_.Put16(buttonId);
  writer_.Put8(0);  // TrackAsMenu: a push button
  const uint32_t offsetPos = out.Cursor();
  writer_.Put16(0);    // ActionOffset, patched once the button records are written
  writer_.Put8(0x08);  // button record: hit-test state only
  writer_.Put16(rectId);
  writer_.Put16(1);  // PlaceDepth
  writer_.WriteEmptyMatrix();
  writer_.WriteEmptyColorTransform();
  writer_.Put8(0x00);  // end of button records
  (void)out.Patch16(offsetPos, static_cast<uint16_t>(out.Cursor() - offsetPos));
  writer_.Put16(0);    // CondActionSize: the last (only) condition record
  writer_.Put8(0x04);  // OverUpToOverDown: the mouse button pressed on the movie
  writer_.Put8(0x00);
  ActionBuilder actions(writer_);
  if (LinkTypeCode(options_) == static_cast<uint32_t>(PlayerLinkType::kGetUrl)) {
    actions.GetUrl(options_.playerLink, options_.playerLinkTarget);
  } else {
    actions.LoadTarget(options_.playerLink, "", 0);
  }
  writer_.Put8(0x00);  // end of actions
  writer_.EndTag();
  writer_.WritePlaceObject(buttonId, kLinkButtonDepth, nullptr);
}

void Transport::WritePreloaderTags() {
  ActionBuilder actions(writer_);
  char fps[64];
  std::snprintf(fps, sizeof fps, "%.2f", playerFps_);
  actions.BeginAction();
  actions.PushString("_fps");
  actions.PushString(fps);
  actions.SetVariable();
  actions.EndAction();
  const ByteBuffer& tags = preloader_->Tags();
  if (tags.Size() > 0) writer_.Append(tags.Data(), tags.Size());
}

bool Transport::WritePartStart() {
  const bool withPreloader = !options_.playerLoader.empty();
  preloaderFrames_ = 0;
  partVersion_ = kSwfVersion;
  if (withPreloader) {
    if (!ReadPreloader()) return false;
    preloaderFrames_ = preloader_->FrameCount();
  }
  ComputeStage(withPreloader);

  const bool displayCursor = (options_.playerFlags & TransportOptions::kPlayerDisplayCursor) != 0;
  // Players that honour the medium setting, and the hidden-cursor script, are version 5's.
  if (withPreloader && options_.playerQuality != PlayerQuality::kMedium && displayCursor) {
    partVersion_ = preloader_->Version();
  }
  writer_.WriteFileHeader(partVersion_, stage_, playerFps_);
  const uint32_t afterHeader = writer_.AfterHeaderPosition();

  ActionBuilder actions(writer_);
  if (options_.playerVar && !options_.playerVar->empty()) {
    actions.SetVariablesScript(*options_.playerVar);
  }
  if (options_.playerFlags & TransportOptions::kPlayerProtect) writer_.WriteProtect();
  if (!displayCursor) actions.HideCursorScript();
  if (options_.backColor < 0x1000000u) writer_.WriteSetBackgroundColor(options_.backColor);
  if (options_.playerQuality != PlayerQuality::kNone && hasPictures_) {
    actions.SetQualityScript(static_cast<uint32_t>(options_.playerQuality));
  }
  if (LinkTypeCode(options_) != 0) WriteLinkButton();
  if (withPreloader) WritePreloaderTags();

  (void)writer_.Compact(afterHeader, writer_.Cursor());
  framesInPart_ = preloaderFrames_;
  return true;
}

void Transport::WritePartEnd(bool last) {
  ActionBuilder actions(writer_);
  const bool severalParts = !last || PartCount() > 1;
  if (!last) {
    // Actions after a part's final ShowFrame belong to no frame the player shows, so the
    // chaining action goes into the last frame instead: the next part then really loads.
    // When other tags already trail the last frame, they get a frame of their own.
    if (!RemoveLastShowFrame()) ++framesInPart_;
    actions.LoadFromVariableScript("nextPart", "");
    WriteShowFrame();
  } else {
    switch (EndTypeCode(options_)) {
      case 0x10:
        actions.UnloadScript("");
        break;
      case 0x20:
        actions.StopScript();
        break;
      case 0x30:
        actions.StopAllScript();
        break;
      case 0x40:
        if (severalParts) {
          actions.LoadFromVariableScript("firstPart", "");
        } else {
          actions.GotoScript(static_cast<uint16_t>(std::min<uint32_t>(preloaderFrames_, 0xFFFF)),
                             true);
        }
        break;
      case 0x50:
        if (severalParts) {
          actions.LoadFromVariableScript("firstPart", "");
        } else {
          actions.GotoScript(0, true);
        }
        break;
      case 0x60:
        actions.LoadMovieScript(options_.playerEndLink, "");
        actions.StopScript();
        break;
      case 0x70:
        actions.GetUrlScript(options_.playerEndLink, options_.playerEndLinkTarget);
        actions.StopAllScript();
        break;
      case 0x00:
        if (severalParts) actions.StopScript();
        break;
      default:
        break;
    }
    WriteShowFrame();
  }
  writer_.WriteEnd();
}

}  // namespace quillon
