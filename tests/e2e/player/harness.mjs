// Plays SWF movies in Ruffle inside headless Chromium and measures what ends up on the stage.
// One Session = one static server over a case folder + one fresh browser profile.
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { parseSwf } from "swf-parser";

const require = createRequire(import.meta.url);
const { chromium } = require("playwright-core");

const here = path.dirname(fileURLToPath(import.meta.url));
const e2eRoot = path.resolve(here, "..");
const { startServer } = require(path.resolve(e2eRoot, "../../scripts/serve.js"));

const kChromium = "/usr/bin/chromium";
const kChromiumFlags = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--autoplay-policy=no-user-gesture-required",
];
const kLoadTimeoutMs = 30000;
// A movie that has not settled this long after its nominal end is taken as not playing through.
const kSettleTimeoutMs = 30000;
const kSettlePollMs = 250;

export function fail(message) {
  throw new Error(message);
}

// Runs a program to completion; throws with its output when it fails.
export function run(program, args, { input, timeoutMs = 120000 } = {}) {
  const r = spawnSync(program, args, { input, timeout: timeoutMs, maxBuffer: 256 << 20 });
  if (r.error) fail(`${path.basename(program)}: ${r.error.message}`);
  if (r.status !== 0) {
    fail(`${path.basename(program)} ${args.join(" ")} exited with ${r.status}\n` +
         `${r.stdout.toString()}${r.stderr.toString()}`);
  }
  return r.stdout;
}

export function ffmpeg(args, options) {
  return run("ffmpeg", ["-v", "error", "-nostdin", "-y", ...args], options);
}

// Raw RGB bytes of an image file or buffer, through FFmpeg so that no PNG decoder is needed.
export function decodeRgb(source, width, height) {
  const fromBuffer = Buffer.isBuffer(source);
  const rgb = ffmpeg(["-i", fromBuffer ? "pipe:0" : source, "-frames:v", "1",
                      "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"],
                     fromBuffer ? { input: source } : {});
  if (rgb.length !== width * height * 3) {
    fail(`image is ${rgb.length} bytes, expected ${width} x ${height} RGB`);
  }
  return rgb;
}

// Frame `index` (counted from 0 in decoding order) of a clip as raw RGB, through an optional
// filter chain that runs after the frame is picked.
export function sourceFrameRgb(clip, index, width, height, filters = "") {
  const chain = `select=eq(n\\,${index})${filters ? "," + filters : ""}`;
  const rgb = ffmpeg(["-i", clip, "-vf", chain, "-vsync", "passthrough", "-frames:v", "1",
                      "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"]);
  if (rgb.length !== width * height * 3) {
    fail(`source frame ${index} is ${rgb.length} bytes, expected ${width} x ${height} RGB`);
  }
  return rgb;
}

// Peak signal-to-noise ratio over the R, G and B samples; Infinity for identical images.
export function psnr(a, b) {
  if (a.length !== b.length) fail(`PSNR of images of ${a.length} and ${b.length} bytes`);
  let sum = 0;
  for (let i = 0; i < a.length; ++i) {
    const d = a[i] - b[i];
    sum += d * d;
  }
  if (sum === 0) return Infinity;
  return 10 * Math.log10((255 * 255 * a.length) / sum);
}

// PSNR of the tile at (x0, y0) of size w x h, with the expected picture read (dx, dy) pixels
// away; only the tile's inner part that stays inside the picture under every such offset
// counts, so that all offsets compare the same number of samples.
function tileDb(shown, expected, width, height, x0, y0, w, h, dx, dy) {
  let sum = 0;
  let n = 0;
  for (let y = Math.max(y0, 1); y < Math.min(y0 + h, height - 1); ++y) {
    for (let x = Math.max(x0, 1); x < Math.min(x0 + w, width - 1); ++x) {
      const a = (y * width + x) * 3;
      const b = ((y + dy) * width + x + dx) * 3;
      for (let c = 0; c < 3; ++c) {
        const d = shown[a + c] - expected[b + c];
        sum += d * d;
      }
      n += 3;
    }
  }
  return sum === 0 ? Infinity : 10 * Math.log10((255 * 255 * n) / sum);
}

// Compares two RGB pictures tile by tile. For each tile: its PSNR, and the offset of at most
// one pixel (dx, dy) at which the expected picture matches the shown one best - (0, 0) unless
// the shown picture is shifted. Tiles without detail (where a shift changes nothing) report
// a best offset of (0, 0).
export function compareTiles(shown, expected, width, height, size) {
  const tiles = [];
  for (let y0 = 0; y0 < height; y0 += size) {
    for (let x0 = 0; x0 < width; x0 += size) {
      const w = Math.min(size, width - x0);
      const h = Math.min(size, height - y0);
      const db = tileDb(shown, expected, width, height, x0, y0, w, h, 0, 0);
      let best = { dx: 0, dy: 0, db };
      for (const dy of [-1, 0, 1]) {
        for (const dx of [-1, 0, 1]) {
          const shifted = tileDb(shown, expected, width, height, x0, y0, w, h, dx, dy);
          if (shifted > best.db) best = { dx, dy, db: shifted };
        }
      }
      tiles.push({ x: x0, y: y0, db, best });
    }
  }
  return tiles;
}

// Header facts of a movie file: stage in pixels, frame rate, frame count.
export function movieInfo(file) {
  const movie = parseSwf(new Uint8Array(fs.readFileSync(file)));
  const r = movie.header.frameSize;
  return {
    movie,
    stageTwips: r,
    width: Math.round((r.xMax - r.xMin) / 20),
    height: Math.round((r.yMax - r.yMin) / 20),
    frameRate: movie.header.frameRate.valueOf(),
    frameCount: movie.header.frameCount,
  };
}

export function formatDb(v) {
  return Number.isFinite(v) ? `${v.toFixed(2)} dB` : "identical";
}

export class Session {
  constructor(root) {
    this.root = root;
    this.consoleErrors = [];
    this.requests = [];
  }

  // Links the Ruffle files and the test page into the served folder, starts the server and
  // the browser.
  async start() {
    const link = (target, name) => {
      const at = path.join(this.root, name);
      fs.rmSync(at, { force: true, recursive: true });
      fs.symlinkSync(target, at);
    };
    link(path.join(e2eRoot, "node_modules/@ruffle-rs/ruffle"), "ruffle");
    for (const f of ["index.html", "page.js", "clicked.html"]) link(path.join(here, "page", f), f);
    this.server = await startServer(this.root, { port: 0 });
    const profile = fs.mkdtempSync(path.join(this.root, "profile-"));
    this.context = await chromium.launchPersistentContext(profile, {
      executablePath: kChromium,
      headless: true,
      args: kChromiumFlags,
      viewport: { width: 1024, height: 1200 },
      deviceScaleFactor: 1,
      timeout: 60000,
    });
    this.page = this.context.pages()[0] || (await this.context.newPage());
    // Ruffle logs its own errors through console.log with a styled "ERROR" prefix.
    this.page.on("console", (msg) => {
      const text = msg.text();
      if (msg.type() === "error" || /^%cERROR%c/.test(text)) {
        this.consoleErrors.push(text.replace(/%c/g, "").replace(/ (color|background):[^]*$/, ""));
      }
    });
    this.page.on("pageerror", (err) => this.consoleErrors.push(`page error: ${err.message}`));
    this.page.on("request", (req) => this.requests.push(req.url()));
  }

  async close() {
    if (this.context) await this.context.close().catch(() => {});
    if (this.server) await this.server.close();
  }

  url(name) {
    return `http://127.0.0.1:${this.server.port}/${name}`;
  }

  // Opens the page on one movie and waits for its header to be read. A load error or a
  // console error is a failure unless expectError.
  async load(movie, { width, height, fps, expectError = false }) {
    const query = new URLSearchParams({ movie, width: String(width), height: String(height) });
    if (fps) query.set("fps", String(fps));
    this.consoleErrors = [];
    await this.page.goto(this.url(`index.html?${query}`), { waitUntil: "load" });
    const state = await this.page.waitForFunction(
        () => {
          const q = window.quillon;
          if (q && !q.error && window.quillonPanic()) q.error = window.quillonPanic();
          return q && (q.loaded || q.error) && q;
        },
        null, { timeout: kLoadTimeoutMs, polling: 100 })
        .then((h) => h.jsonValue(), () => null);
    if (expectError) return { state, errors: this.consoleErrors.slice() };
    if (!state) fail(`${movie}: Ruffle did not load it within ${kLoadTimeoutMs} ms`);
    if (state.error) fail(`${movie}: Ruffle load error: ${state.error}`);
    await this.checkConsole(movie);
    return state;
  }

  async checkConsole(movie) {
    const panic = await this.page.evaluate(() => window.quillonPanic());
    if (panic) fail(`${movie}: Ruffle shows its error screen: ${panic.slice(0, 300)}`);
    if (this.consoleErrors.length) {
      fail(`${movie}: console errors:\n  ${this.consoleErrors.join("\n  ")}`);
    }
  }

  async screenshot() {
    return this.page.locator("#player").screenshot({ animations: "allow", timeout: 10000 });
  }

  // Waits out the movie's nominal length, then until two screenshots in a row are the same
  // picture: a movie that stops on its last frame stays still, one still moving has not
  // reached it. Returns the last screenshot (PNG).
  async waitUntilSettled(movie, nominalMs) {
    await this.page.waitForTimeout(nominalMs + 300);
    const deadline = Date.now() + kSettleTimeoutMs;
    let last = await this.screenshot();
    let same = 0;
    while (Date.now() < deadline) {
      await this.page.waitForTimeout(kSettlePollMs);
      const shot = await this.screenshot();
      same = shot.equals(last) ? same + 1 : 0;
      last = shot;
      if (same >= 2) {
        await this.checkConsole(movie);
        return shot;
      }
    }
    fail(`${movie}: the stage was still changing ${kSettleTimeoutMs} ms after the movie's end`);
  }

  // Plays a movie through and returns the final stage as raw RGB at the movie's size.
  async playThrough(file, { fps } = {}) {
    const info = movieInfo(path.join(this.root, file));
    await this.load(file, { width: info.width, height: info.height, fps });
    const rate = fps || info.frameRate;
    const shot = await this.waitUntilSettled(file, (info.frameCount / rate) * 1000);
    return { info, rgb: decodeRgb(shot, info.width, info.height), png: shot };
  }
}
