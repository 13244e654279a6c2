// A movie clip for the picture tests and a bounded wait for the frame worker's pictures.
#pragma once

#include <QSignalSpy>
#include <cstdint>
#include <memory>
#include <string>

#include "app/frame_thread.h"
#include "support/test_clips.h"
#include "video/frame_store.h"

namespace quillon::testing {

// 6 s of a moving test pattern, 160x120 at 25 fps, a keyframe every second.
inline std::string PatternClip() {
  return MakeClip(ClipFolder("app"), "pattern.mp4",
                  "-f lavfi -i testsrc2=size=160x120:rate=25:duration=6 -c:v libx264 "
                  "-preset ultrafast -pix_fmt yuv420p -g 25");
}

// A store opened on PatternClip(); null when the clip cannot be made or opened.
inline std::unique_ptr<FrameStore> OpenPatternStore() {
  const std::string clip = PatternClip();
  auto store = std::make_unique<FrameStore>();
  return !clip.empty() && store->Open(clip) ? std::move(store) : nullptr;
}

// Waits (10 s at most) until the spy on FrameThread::FrameReady has seen the picture for ms.
inline bool WaitForPicture(QSignalSpy& spy, uint32_t ms) {
  for (int round = 0; round < 100; ++round) {
    for (const QList<QVariant>& args : spy) {
      if (args.at(1).toUInt() == ms) return true;
    }
    spy.wait(100);
  }
  return false;
}

}  // namespace quillon::testing
