// Reads every part written by transport_clip_writer with an independent SWF parser and checks
// the display list and the part structure. Usage: node transport_check.mjs <output folder>
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { parseSwf, swf } from "swf-parser";

const TagType = swf.TagType;
const FillStyleType = swf.FillStyleType;

const root = process.argv[2];
const manifest = JSON.parse(fs.readFileSync(path.join(root, "manifest.json"), "utf8"));

// Tag framing read by hand, so that tags the parser keeps raw (FreeCharacter) are still seen.
function framing(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const rectBits = bytes[8] >> 3;
  let pos = 8 + Math.ceil((5 + 4 * rectBits) / 8) + 4;
  const tags = [];
  for (;;) {
    assert.ok(pos + 2 <= bytes.length, "tag header inside the file");
    const word = view.getUint16(pos, true);
    const code = word >> 6;
    let length = word & 0x3f;
    const long = length === 0x3f;
    if (long) length = view.getUint32(pos + 2, true);
    const body = pos + (long ? 6 : 2);
    assert.ok(body + length <= bytes.length, `tag ${code} inside the file`);
    tags.push({ code, long, length, body: bytes.subarray(body, body + length) });
    pos = body + length;
    if (code === 0) break;
  }
  assert.equal(pos, bytes.length, "End tag closes the file");
  return tags;
}

function pushedStrings(actions) {
  const out = [];
  let p = 0;
  while (p < actions.length) {
    const op = actions[p++];
    if (op < 0x80) continue;
    const len = actions[p] | (actions[p + 1] << 8);
    const data = actions.subarray(p + 2, p + 2 + len);
    p += 2 + len;
    if (op === 0x96 && data[0] === 0) {
      out.push(Buffer.from(data.subarray(1, len - 1)).toString("latin1"));
    }
  }
  return out;
}

function partName(n) {
  return n === 1 ? "encoded.swf" : `encoded${n}.swf`;
}

for (const scenario of manifest) {
  const dir = path.join(root, scenario.name);
  let frames = 0;
  let jpegBitmaps = 0;
  let shapes = 0;
  assert.ok(!fs.existsSync(path.join(dir, partName(scenario.parts + 1))), "no extra part");
  for (let n = 1; n <= scenario.parts; ++n) {
    const file = path.join(dir, partName(n));
    const bytes = new Uint8Array(fs.readFileSync(file));
    const where = `${scenario.name} part ${n}`;
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    assert.deepEqual([...bytes.subarray(0, 3)], [0x46, 0x57, 0x53], `${where}: signature`);
    assert.equal(view.getUint32(4, true), bytes.length, `${where}: file length`);
    if (scenario.partSizeLimit > 0) {
      assert.ok(bytes.length <= scenario.partSizeLimit, `${where}: ${bytes.length} bytes`);
    }

    const raw = framing(bytes);
    const movie = parseSwf(bytes);
    assert.equal(movie.tags.length, raw.length - 1, `${where}: every tag but End parsed`);
    const showFrames = raw.filter((t) => t.code === 1).length;
    assert.equal(movie.header.frameCount, showFrames, `${where}: frame count`);
    frames += showFrames;

    if (scenario.parts > 1) {
      // The saving step rewrites the first tag after the header: the part variables.
      assert.equal(raw[0].code, 12, `${where}: part variables first`);
      const s = pushedStrings(movie.tags[0].actions);
      assert.deepEqual(s.slice(0, 2), ["thisPartNum", String(n)], `${where}: thisPartNum`);
      if (n < scenario.parts) assert.ok(s.includes(partName(n + 1)), `${where}: nextPart`);
      if (n > 1) assert.ok(s.includes("firstPart"), `${where}: firstPart`);
    }

    const bitmaps = new Set();
    const characters = new Set();
    const occupied = new Map();
    let jpegTables = false;
    raw.forEach((r, i) => {
      const tag = movie.tags[i];
      const at = `${where}, tag ${i} (${r.code})`;
      if (r.code === 0) return;
      if (r.code === 3) {
        // FreeCharacter: a bitmap no shape on the stage uses any more.
        const id = r.body[0] | (r.body[1] << 8);
        assert.ok(bitmaps.delete(id), `${at}: frees defined bitmap ${id}`);
        for (const [depth, shapeFills] of occupied) {
          assert.ok(!shapeFills.has(id), `${at}: bitmap ${id} still shown at depth ${depth}`);
        }
        return;
      }
      assert.ok(tag.type !== TagType.Raw && tag.type !== TagType.RawBody, `${at}: parsed`);
      if (r.code === 8) jpegTables = true;
      if (tag.type === TagType.DefineBitmap) {
        if (r.code === 6) {
          assert.ok(jpegTables, `${at}: JPEGTables before the first DefineBits`);
          assert.equal(tag.mediaType, "image/x-swf-partial-jpeg");
          ++jpegBitmaps;
        }
        assert.ok(!characters.has(tag.id), `${at}: id ${tag.id} defined once`);
        bitmaps.add(tag.id);
        characters.add(tag.id);
      }
      if (tag.type === TagType.DefineShape || tag.type === TagType.DefineButton) {
        assert.ok(!characters.has(tag.id), `${at}: id ${tag.id} defined once`);
        characters.add(tag.id);
      }
      if (r.code === 22) {
        ++shapes;
        const fills = new Set();
        for (const fill of tag.shape.initialStyles.fill) {
          if (fill.type === FillStyleType.Bitmap) {
            assert.ok(bitmaps.has(fill.bitmapId), `${at}: fill of bitmap ${fill.bitmapId}`);
            assert.equal(fill.repeating, false, `${at}: clipped fill`);
            fills.add(fill.bitmapId);
          }
        }
        assert.deepEqual(tag.bounds, { xMin: 0, xMax: scenario.width, yMin: 0, yMax: scenario.height });
        characters.fills ??= new Map();
        characters.fills.set(tag.id, fills);
      }
      if (tag.type === TagType.PlaceObject) {
        assert.ok(characters.has(tag.characterId), `${at}: places defined ${tag.characterId}`);
        assert.ok(!occupied.has(tag.depth), `${at}: depth ${tag.depth} free`);
        occupied.set(tag.depth, characters.fills?.get(tag.characterId) ?? new Set());
      }
      if (tag.type === TagType.RemoveObject) {
        assert.ok(occupied.delete(tag.depth), `${at}: removes occupied depth ${tag.depth}`);
      }
    });
  }
  assert.equal(frames, scenario.frames, `${scenario.name}: frames over all parts`);
  assert.ok(shapes > 0, `${scenario.name}: shapes drawn`);
  console.log(`ok: ${scenario.name} (${scenario.parts} parts, ${frames} frames, ` +
              `${shapes} shapes, ${jpegBitmaps} JPEG bitmaps)`);
}
