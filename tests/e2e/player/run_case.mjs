// One player case: make the clip, encode it with the quillon program, play the output in Ruffle
// and compare the final stage with the source frame at the end of the selection.
// Usage: node run_case.mjs <case> <output folder> <quillon program> <movie writer program>
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import {
  Session, compareTiles, decodeRgb, fail, ffmpeg, formatDb, movieInfo, psnr, run, sourceFrameRgb,
} from "./harness.mjs";

const [caseName, outArg, quillon, writer] = process.argv.slice(2);
const outDir = path.resolve(outArg || ".");
if (!caseName || !outArg || !quillon || !writer) {
  console.error("usage: node run_case.mjs <case> <output folder> <quillon> <movie writer>");
  process.exit(2);
}
fs.mkdirSync(outDir, { recursive: true });
const out = (name) => path.join(outDir, name);

const kWidth = 160;
const kHeight = 120;
const kRate = 10;
const kSize = `${kWidth}x${kHeight}`;
// The raw test pattern has one-pixel hue steps that no 4:2:0 JPEG keeps; a slight blur makes
// it look like camera video without hiding misplaced or stale blocks.
const kPattern = `testsrc2=s=${kSize}:r=${kRate}`;
const kSoften = "gblur=sigma=1";
const kMonoFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// --- clips ----------------------------------------------------------------------------------
// Each clip is made once per case folder; returns its path and frame count.
const clips = {
  // One picture held for 2 seconds.
  still() {
    ffmpeg(["-f", "lavfi", "-i", `${kPattern},${kSoften}`, "-frames:v", "1", out("still.png")]);
    ffmpeg(["-loop", "1", "-framerate", String(kRate), "-i", out("still.png"), "-frames:v", "20",
            "-pix_fmt", "yuv444p", out("still.mp4")]);
    return { file: out("still.mp4"), frames: 20 };
  },
  // Everything moves in every frame (the timer and the moving shapes of the test pattern).
  moving() {
    ffmpeg(["-f", "lavfi", "-i", `${kPattern}:d=5,${kSoften}`, "-pix_fmt", "yuv444p",
            out("moving.mp4")]);
    return { file: out("moving.mp4"), frames: 50 };
  },
  // Plain-colour areas: a flat background, two flat boxes, one of them moving.
  flat() {
    ffmpeg(["-f", "lavfi", "-i", `color=c=0x2050a0:s=${kSize}:r=${kRate}:d=3`,
            "-f", "lavfi", "-i", `color=c=0xc02020:s=40x40:r=${kRate}`, "-filter_complex",
            "[0]drawbox=x=10:y=10:w=50:h=40:color=0xf0e020:t=fill[bg];" +
            "[bg][1]overlay=x='20+n*3':y=60:shortest=1[v]", "-map", "[v]",
            "-pix_fmt", "yuv444p", out("flat.mp4")]);
    return { file: out("flat.mp4"), frames: 30 };
  },
  // Two seconds of the test pattern, then the same two seconds with every 32-pixel column of
  // blocks mirrored in place: the matcher compares each block with the same block of earlier
  // frames, read mirrored.
  mirrored() {
    const tiles = [0, 1, 2, 3, 4];
    const graph = "[0]split[a][b];[b]split=5" + tiles.map((i) => `[b${i}]`).join("") + ";" +
        tiles.map((i) => `[b${i}]crop=32:${kHeight}:${i * 32}:0,hflip[c${i}];`).join("") +
        tiles.map((i) => `[c${i}]`).join("") + "hstack=5[f];[a][f]concat=n=2:v=1[v]";
    ffmpeg(["-f", "lavfi", "-i", `${kPattern}:d=2,${kSoften}`, "-filter_complex", graph,
            "-map", "[v]", "-pix_fmt", "yuv444p", out("mirrored.mp4")]);
    return { file: out("mirrored.mp4"), frames: 40 };
  },
  // A 640 x 480 screen recording: antialiased terminal text, a running clock, one-pixel box
  // edges and a grid of one-pixel lines, kept in RGB so that no chroma subsampling softens
  // an edge before the encoder sees it.
  screen() {
    if (!fs.existsSync(kMonoFont)) fail(`${kMonoFont} is missing (Debian package fonts-dejavu-core)`);
    fs.writeFileSync(out("terminal.txt"), [
      "user@host:~/quillon$ ./run test",
      "[ 12%] Building CXX object src/swf/CMakeFiles/swf.dir/swf_writer.cpp.o",
      "[ 25%] Linking CXX static library libquillon_swf.a",
      "Test project /work/quillon/build",
      "  1/42 Test  #1: byte_buffer ...........   Passed  0.02 sec",
      "  2/42 Test  #2: swf_writer ............   Passed  0.05 sec",
      "100% tests passed, 0 tests failed out of 42",
      "user@host:~/quillon$ ls -l presets/",
      "-rw-r--r-- 1 user user 4187 screen-recording.settings",
    ].join("\n") + "\n");
    const text = `fontfile=${kMonoFont}:fontsize=13`;
    ffmpeg(["-f", "lavfi", "-i", "color=c=0x101820:s=640x480:r=10:d=2", "-vf",
            "drawgrid=x=8:y=4:w=40:h=20:t=1:color=0x80FF80," +
            "drawbox=x=0:y=0:w=640:h=340:color=0x101820:t=fill," +
            `drawtext=${text}:textfile=${out("terminal.txt")}:expansion=none:x=12:y=40:` +
            "fontcolor=0xD0D0D0:line_spacing=6," +
            `drawtext=${text}:text='%{pts\\:hms}':x=540:y=12:fontcolor=0xFFE060,` +
            "drawbox=x=8:y=32:w=624:h=300:color=0x40A0FF:t=1",
            "-c:v", "ffv1", "-pix_fmt", "bgr0", out("screen.mkv")]);
    return { file: out("screen.mkv"), frames: 20 };
  },
};

// --- cases ----------------------------------------------------------------------------------
// settings: lines added to the stop-at-end settings file; args: extra command-line arguments;
// last: source frame index at the end of the selection; minDb: the threshold the settings
// promise; expected(clip, info): the picture the stage must show, as raw RGB.
const kHighQuality = ["-q", "95", "-j", "90"];
const cases = {
  still: { clip: "still", args: kHighQuality, minDb: 28 },
  moving: {
    clip: "moving", settings: ["Match.SearchedFrames=10"], args: [...kHighQuality],
    selection: ["1", "+3"], last: 39, minDb: 30, distinctFromPrevious: true,
  },
  flat: { clip: "flat", args: kHighQuality, minDb: 30, distinctFromPrevious: true },
  zlib32: {
    clip: "moving", settings: ["Transport.JPEG=No", "Transport.ZLIB32=Yes", "Transport.ZLIB8=No"],
    args: ["-q", "95"], selection: ["0", "+2"], last: 19, minDb: 40,
  },
  zlib8: {
    clip: "flat", settings: ["Transport.JPEG=No", "Transport.ZLIB32=No", "Transport.ZLIB8=Yes"],
    args: ["-q", "95"], minDb: 38,
  },
  resize_hv: {
    clip: "moving", settings: ["Transport.Resize=HV", "Transport.ResizeLimit=100"],
    args: kHighQuality, selection: ["0", "+2"], last: 19, minDb: 28,
  },
  mirrored: {
    clip: "mirrored",
    settings: ["Match.CoordTransform=Yes", "Match.BlockWidth=-32", "Match.BlockHeight=-24"],
    args: kHighQuality, minDb: 28,
  },
  resize_back: {
    clip: "moving", settings: ["Transport.BackColor=#20C040", "Transport.BackWidth=120",
                               "Transport.BackHeight=120"],
    args: [...kHighQuality, "-fs", "50"], selection: ["0", "+2"], last: 19, minDb: 25,
    expected: expectedOnLargerStage,
  },
  memory_on: {
    clip: "moving", settings: ["Transport.Player.OptimizeMemory=Yes", "Match.SearchedFrames=10"],
    args: kHighQuality, minDb: 30, check: expectFreeCharacter(true),
  },
  memory_off: {
    clip: "moving", settings: ["Transport.Player.OptimizeMemory=No", "Match.SearchedFrames=10"],
    args: kHighQuality, minDb: 30, check: expectFreeCharacter(false),
  },
  overlay: {
    clip: "moving", settings: () => [`Transport.Player.Loader=${out("overlay.swf")}`],
    args: kHighQuality, selection: ["0", "+2"], last: 19, minDb: 28,
    expected: (clip, info) => sourceFrameRgb(clip.file, 19, info.width, info.height,
        "drawbox=x=8:y=8:w=32:h=24:color=0xFFFF00:t=fill"),
  },
  parts: {
    clip: "moving", args: [...kHighQuality, "-ps", "24"], minDb: 30, minParts: 3,
    distinctFromPrevious: true,
  },
  // Lossless bitmaps only: the player must show the recording pixel for pixel, in every
  // 80 x 80 tile and without a one-pixel shift anywhere.
  screen: {
    clip: "screen", settings: ["Transport.JPEG=No", "Transport.ZLIB32=Yes", "Transport.ZLIB8=No"],
    args: ["-q", "98"], minDb: 40, tiles: { size: 80, minDb: 40 },
  },
};

function expectFreeCharacter(present) {
  return (info) => {
    // FreeCharacter (3) has no meaning for the player we test with; only its presence is
    // checked here, the picture must be right either way.
    const frees = countTags(fs.readFileSync(info.file), 3);
    if (present) assert.ok(frees > 0, "OptimizeMemory on: FreeCharacter tags expected");
    else assert.equal(frees, 0, "OptimizeMemory off: no FreeCharacter tags");
    return `${frees} FreeCharacter tags`;
  };
}

// Tag codes counted by walking the tag headers by hand (the parser drops unknown tags).
function countTags(bytes, code) {
  const rectBits = bytes[8] >> 3;
  let pos = 8 + Math.ceil((5 + 4 * rectBits) / 8) + 4;
  let n = 0;
  while (pos + 2 <= bytes.length) {
    const word = bytes.readUInt16LE(pos);
    let length = word & 0x3f;
    pos += 2;
    if (length === 0x3f) {
      length = bytes.readUInt32LE(pos);
      pos += 4;
    }
    if (word >> 6 === code) ++n;
    if (word >> 6 === 0) break;
    pos += length;
  }
  return n;
}

// The video at half size, centred on a stage 120 % of its size in the background colour.
function expectedOnLargerStage(clip, info) {
  const x = Math.round((info.width - kWidth / 2) / 2);
  const y = Math.round((info.height - kHeight / 2) / 2);
  return sourceFrameRgb(clip.file, 19, info.width, info.height,
      `scale=${kWidth / 2}:${kHeight / 2}:flags=area,` +
      `pad=${info.width}:${info.height}:${x}:${y}:color=0x20C040`);
}

// --- the harness's own checks on hand-made movies ------------------------------------------
async function harnessCase() {
  run(writer, [outDir, String(kWidth), String(kHeight)]);
  const session = new Session(outDir);
  await session.start();
  try {
    const { rgb } = await session.playThrough("rect.swf");
    const last = Buffer.alloc(64 * 48 * 3);
    const first = Buffer.alloc(64 * 48 * 3);
    for (let i = 0; i < 64 * 48; ++i) {
      last[i * 3 + (i % 64 < 32 ? 1 : 2)] = 255;
      first[i * 3] = 255;
    }
    const db = psnr(rgb, last);
    console.log(`PSNR harness rect.swf last frame: ${formatDb(db)}`);
    assert.ok(db >= 40, `hand-made movie shows ${formatDb(db)} against its last frame`);
    assert.ok(psnr(rgb, first) < 10, "the stage still shows the first frame");

    const bad = await session.load("corrupt.swf", { width: 64, height: 48, expectError: true });
    assert.ok(bad.errors.length > 0 || (bad.state && bad.state.error),
              "a damaged movie must be reported");
    console.log(`damaged movie reported: ${(bad.state && bad.state.error) || bad.errors[0]}`);
  } finally {
    await session.close();
  }
}

// --- encoder cases ----------------------------------------------------------------------
async function encoderCase(c) {
  run(writer, [outDir, String(kWidth), String(kHeight)]);
  const clip = clips[c.clip]();
  const settings = ["Transport.Player.EndType=stop",
                    ...(typeof c.settings === "function" ? c.settings() : c.settings || [])];
  fs.writeFileSync(out("case.settings"), settings.join("\n") + "\n");
  const started = Date.now();
  run(quillon, [clip.file, out("movie.swf"), ...(c.selection || []), "-s", out("case.settings"),
                "-l", out("log.txt"), ...(c.args || [])], { timeoutMs: 240000 });
  const encodeMs = Date.now() - started;

  const parts = fs.readdirSync(outDir).filter((f) => /^movie\d*\.swf$/.test(f)).sort(
      (a, b) => (parseInt(a.slice(5)) || 1) - (parseInt(b.slice(5)) || 1));
  if (c.minParts) {
    assert.ok(parts.length >= c.minParts, `${parts.length} parts, expected at least ${c.minParts}`);
  } else {
    assert.deepEqual(parts, ["movie.swf"], "one part expected");
  }
  const infos = parts.map((p) => ({ ...movieInfo(out(p)), file: out(p) }));
  const info = infos[0];
  const note = c.check ? c.check(info) : "";

  const session = new Session(outDir);
  await session.start();
  let rgb;
  try {
    await session.load("movie.swf", { width: info.width, height: info.height });
    const frames = infos.reduce((n, i) => n + i.frameCount, 0);
    const shot = await session.waitUntilSettled("movie.swf", (frames / info.frameRate) * 1000);
    rgb = decodeRgb(shot, info.width, info.height);
    fs.writeFileSync(out("stage.png"), shot);
    for (const p of parts) {
      assert.ok(session.requests.some((u) => u.endsWith(`/${p}`)), `${p} was never loaded`);
    }
  } finally {
    await session.close();
  }

  const last = c.last ?? clip.frames - 1;
  const expected = c.expected ? c.expected(clip, info)
                              : sourceFrameRgb(clip.file, last, info.width, info.height);
  const db = psnr(rgb, expected);
  console.log(`PSNR ${caseName}: ${formatDb(db)} (threshold ${c.minDb} dB; ${parts.length} part(s), ` +
              `stage ${info.width}x${info.height}, encoded in ${encodeMs} ms${note ? "; " + note : ""})`);
  if (c.tiles) checkTiles(c.tiles, rgb, expected, info);
  assert.ok(db >= c.minDb, `${caseName}: stage against source frame ${last} is ${formatDb(db)}`);
  if (c.distinctFromPrevious) {
    // Frame accuracy: the stage must be nearer the last frame than the one before it.
    const before = sourceFrameRgb(clip.file, last - 1, info.width, info.height);
    const dbBefore = psnr(rgb, before);
    console.log(`  against source frame ${last - 1}: ${formatDb(dbBefore)}`);
    assert.ok(db > dbBefore, `${caseName}: the stage is nearer frame ${last - 1} than ${last}`);
  }
}

function checkTiles({ size, minDb }, rgb, expected, info) {
  const tiles = compareTiles(rgb, expected, info.width, info.height, size);
  const worst = tiles.reduce((a, b) => (b.db < a.db ? b : a));
  const shifted = tiles.filter((t) => t.best.dx !== 0 || t.best.dy !== 0);
  console.log(`  ${tiles.length} tiles of ${size}x${size}: worst ${formatDb(worst.db)} at ` +
              `(${worst.x}, ${worst.y}); ${shifted.length} shifted`);
  for (const t of shifted) {
    console.log(`  tile (${t.x}, ${t.y}): ${formatDb(t.db)}, ${formatDb(t.best.db)} when read ` +
                `${t.best.dx}, ${t.best.dy} pixels away`);
  }
  assert.equal(shifted.length, 0, `${shifted.length} tiles show the picture shifted by a pixel`);
  assert.ok(worst.db >= minDb, `tile (${worst.x}, ${worst.y}) is ${formatDb(worst.db)}`);
}

async function linkCase() {
  const clip = clips.still();
  fs.writeFileSync(out("case.settings"), ["Transport.Player.EndType=stop",
      "Transport.Player.LinkType=getUrl", "Transport.Player.Link=clicked.html?from=button",
      "Transport.Player.LinkTarget=linkframe"].join("\n") + "\n");
  run(quillon, [clip.file, out("movie.swf"), "-s", out("case.settings"), "-l", out("log.txt")]);
  const info = movieInfo(out("movie.swf"));
  const session = new Session(outDir);
  await session.start();
  try {
    await session.load("movie.swf", { width: info.width, height: info.height });
    await session.waitUntilSettled("movie.swf", (info.frameCount / info.frameRate) * 1000);
    const before = await session.page.evaluate(() => window.quillon.linkUrl);
    assert.equal(before, null, "the link fired without a click");
    // The button reacts to the over-up to over-down transition: the pointer must be over the
    // movie for a frame before the button goes down.
    const mouse = session.page.mouse;
    await mouse.move(info.width / 2, info.height / 2, { steps: 4 });
    await session.page.waitForTimeout(400);
    await mouse.down();
    await session.page.waitForTimeout(200);
    await mouse.up();
    const url = await session.page.waitForFunction(() => window.quillon.linkUrl, null,
                                                   { timeout: 15000, polling: 100 })
        .then((h) => h.jsonValue(), () => null);
    assert.ok(url && url.endsWith("/clicked.html?from=button"),
              `link frame shows ${url}; requests: ${session.requests.slice(-5).join(" ")}; ` +
              `console: ${session.consoleErrors.join(" | ")}`);
    await session.checkConsole("movie.swf");
    console.log(`link button opened ${url} in the link frame`);
  } finally {
    await session.close();
  }
}

try {
  if (caseName === "harness") await harnessCase();
  else if (caseName === "link") await linkCase();
  else if (cases[caseName]) await encoderCase(cases[caseName]);
  else fail(`unknown case ${caseName}`);
} catch (e) {
  console.error(`FAILED ${caseName}: ${e.message}`);
  process.exit(1);
}
