// Opens the demo page that scripts/demo wrote, in headless Chromium through the served folder,
// and checks that Ruffle reads the movie and plays it: the header as expected, the picture
// changing over time, no console errors. Usage: node batch_demo_check.mjs <demo folder>
import assert from "node:assert/strict";
import fs from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { fileURLToPath } from "node:url";

const require = createRequire(import.meta.url);
const { chromium } = require("playwright-core");
const here = path.dirname(fileURLToPath(import.meta.url));
const { startServer } = require(path.resolve(here, "../../scripts/serve.js"));

const folder = process.argv[2];
assert.ok(fs.existsSync(path.join(folder, "sample.swf")), "demo wrote sample.swf");
assert.ok(fs.existsSync(path.join(folder, "index.html")), "demo wrote index.html");
assert.match(fs.readFileSync(path.join(folder, "demo.log"), "utf8"), /Encoded OK: /);

const server = await startServer(folder, { port: 0 });
const profile = fs.mkdtempSync(path.join(folder, "profile-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--autoplay-policy=no-user-gesture-required"],
  viewport: { width: 800, height: 700 },
  timeout: 60000,
});
const errors = [];
try {
  const page = context.pages()[0] || (await context.newPage());
  page.on("console", (m) => { if (m.type() === "error") errors.push(`${m.text()} ${m.location().url}`); });
  page.on("pageerror", (e) => errors.push(`page error: ${e.message}`));
  page.on("response", (r) => { if (r.status() >= 400) errors.push(`${r.status()} ${r.url()}`); });
  await page.goto(`http://127.0.0.1:${server.port}/index.html`, { waitUntil: "load" });
  const meta = await page.waitForFunction(() => {
    const p = document.querySelector("#player > *");
    const m = p && p.ruffle && p.ruffle().metadata;
    return m && m.numFrames > 0 ? { width: m.width, height: m.height, frames: m.numFrames,
                                    version: m.swfVersion } : null;
  }, null, { timeout: 30000, polling: 100 }).then((h) => h.jsonValue());
  assert.equal(meta.version, 5);
  // The stage is exactly the video's frame.
  assert.equal(meta.width, 320, `width ${meta.width}`);
  assert.equal(meta.height, 240, `height ${meta.height}`);
  assert.ok(meta.frames >= 80, `frames ${meta.frames}`);
  // The movie moves. A loaded machine may land two looks in the still scene, or the first look
  // before the first frame is drawn, so look until the picture has changed twice (a blank
  // stage turning into the first frame alone is not playing), within a bound.
  const player = page.locator("#player");
  let previous = await player.screenshot();
  let changes = 0;
  for (const deadline = Date.now() + 20000; changes < 2 && Date.now() < deadline;) {
    await page.waitForTimeout(150);
    const shot = await player.screenshot();
    if (!shot.equals(previous)) changes += 1;
    previous = shot;
  }
  assert.ok(changes >= 2, "the picture changes while the movie plays");
  assert.deepEqual(errors, [], "no console errors");
  console.log(`demo plays: ${JSON.stringify(meta)}`);
} finally {
  await context.close().catch(() => {});
  await server.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
