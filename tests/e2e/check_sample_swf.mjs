// Reads the sample movie written by swf_sample_writer with an independent SWF parser and checks
// every tag it holds. Usage: node check_sample_swf.mjs <output folder>
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import zlib from "node:zlib";
import { parseSwf, swf } from "swf-parser";

const TagType = swf.TagType;
const FillStyleType = swf.FillStyleType;
const ShapeRecordType = swf.ShapeRecordType;

const file = path.join(process.argv[2], "encoded.swf");
const bytes = new Uint8Array(fs.readFileSync(file));

// --- raw framing, read by hand: file length field and header forms ----------------------
assert.deepEqual([...bytes.subarray(0, 4)], [0x46, 0x57, 0x53, 5], "signature and version");
const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
assert.equal(view.getUint32(4, true), bytes.length, "file length field");
const rectBits = bytes[8] >> 3;
let pos = 8 + Math.ceil((5 + 4 * rectBits) / 8) + 4;
const framing = [];
for (;;) {
  const word = view.getUint16(pos, true);
  const code = word >> 6;
  let length = word & 0x3f;
  const long = length === 0x3f;
  if (long) length = view.getUint32(pos + 2, true);
  framing.push({ code, long, length });
  pos += (long ? 6 : 2) + length;
  if (code === 0) break;
}
assert.equal(pos, bytes.length, "End tag closes the file");
assert.deepEqual(framing.map((t) => t.code), [12, 9, 2, 20, 22, 4, 12, 1, 28, 1, 0]);
for (const t of framing) {
  // Bitmaps keep long headers; everything else this short is normalised.
  assert.equal(t.long, t.code === 20 || t.length >= 63, `header form of tag ${t.code}`);
}

// --- the independent parse ---------------------------------------------------------------
const movie = parseSwf(bytes);
assert.equal(movie.header.swfVersion, 5);
assert.deepEqual(movie.header.frameSize, { xMin: 0, xMax: 640, yMin: 0, yMax: 480 });
assert.equal(movie.header.frameRate.valueOf(), 12);
assert.equal(movie.header.frameCount, 2);

const tags = movie.tags;
for (const t of tags) {
  assert.ok(t.type !== TagType.Raw && t.type !== TagType.RawBody, `unparsed tag ${JSON.stringify(t)}`);
}
assert.deepEqual(tags.map((t) => TagType[t.type]), [
  "DoAction", "SetBackgroundColor", "DefineShape", "DefineBitmap", "DefineShape",
  "PlaceObject", "DoAction", "ShowFrame", "RemoveObject", "ShowFrame",
]);

// Minimal action reader: the strings pushed and the opcodes, in order.
function actionsOf(tag) {
  const a = tag.actions;
  const out = [];
  let p = 0;
  while (p < a.length) {
    const op = a[p++];
    if (op < 0x80) {
      out.push(op);
      continue;
    }
    const len = a[p] | (a[p + 1] << 8);
    const data = a.subarray(p + 2, p + 2 + len);
    p += 2 + len;
    if (op === 0x96) {
      assert.equal(data[0], 0, "string push");
      assert.equal(data[len - 1], 0, "terminated string");
      out.push(Buffer.from(data.subarray(1, len - 1)).toString("latin1"));
    } else {
      out.push(op);
    }
  }
  return out;
}

assert.deepEqual(actionsOf(tags[0]),
  ["thisPartNum", "1", 0x1d, "nextPart", "encoded2.swf", 0x1d, 0x00]);

assert.deepEqual(tags[1].color, { r: 0x33, g: 0x66, b: 0x99 });

// Click-area rectangle: one black fill, no lines, drawn from the origin.
const rect = tags[2];
assert.equal(rect.id, 63999);
assert.deepEqual(rect.bounds, { xMin: 0, xMax: 32, yMin: 0, yMax: 24 });
assert.equal(rect.shape.initialStyles.fill.length, 1);
assert.equal(rect.shape.initialStyles.fill[0].type, FillStyleType.Solid);
assert.deepEqual(rect.shape.initialStyles.fill[0].color, { r: 0, g: 0, b: 0, a: 255 });
assert.equal(rect.shape.initialStyles.line.length, 0);
const records = (shape) => shape.records.map((r) => r.type === ShapeRecordType.Edge
  ? { edge: [r.delta.x, r.delta.y] }
  : { move: r.moveTo ? [r.moveTo.x, r.moveTo.y] : null, fill0: r.leftFill, fill1: r.rightFill });
assert.deepEqual(records(rect.shape), [
  { move: null, fill0: undefined, fill1: 1 },
  { edge: [32, 0] }, { edge: [0, 24] }, { edge: [-32, 0] }, { edge: [0, -24] },
]);

const bitmap = tags[3];
assert.equal(bitmap.id, 63998);
assert.equal(bitmap.width, 2);
assert.equal(bitmap.height, 2);
assert.equal(bitmap.mediaType, "image/x-swf-lossless1");
assert.equal(bitmap.data[0], 5, "ARGB format");
const pixels = zlib.inflateSync(Buffer.from(bitmap.data.subarray(5)));
assert.deepEqual([...pixels.subarray(0, 4)], [0xff, 0xff, 0x00, 0x00]);
assert.equal(pixels.length, 16);

const frame = tags[4];
assert.equal(frame.id, 63997);
assert.deepEqual(frame.bounds, { xMin: 0, xMax: 32, yMin: 0, yMax: 24 });
const [solid, clipped] = frame.shape.initialStyles.fill;
assert.equal(frame.shape.initialStyles.fill.length, 2);
assert.equal(solid.type, FillStyleType.Solid);
assert.deepEqual(solid.color, { r: 0x20, g: 0x40, b: 0x60, a: 255 });
assert.equal(clipped.type, FillStyleType.Bitmap);
assert.equal(clipped.bitmapId, 63998);
assert.equal(clipped.repeating, false, "clipped, not repeating");
assert.equal(clipped.matrix.scaleX.valueOf(), 4);
assert.equal(clipped.matrix.scaleY.valueOf(), 4);
assert.equal(clipped.matrix.rotateSkew0.valueOf(), 0);
assert.equal(clipped.matrix.translateX, 16);
assert.equal(clipped.matrix.translateY, 8);
assert.deepEqual(records(frame.shape), [
  { move: [0, 0], fill0: undefined, fill1: 1 },
  { edge: [16, 0] }, { edge: [0, 24] }, { edge: [-16, 0] }, { edge: [0, -24] },
  { move: [16, 8], fill0: undefined, fill1: 2 },
  { edge: [8, 0] }, { edge: [0, 8] }, { edge: [-8, 0] }, { edge: [0, -8] },
]);

const place = tags[5];
assert.equal(place.characterId, 63997);
assert.equal(place.depth, 1);
assert.equal(place.matrix.scaleX.valueOf(), 20);
assert.equal(place.matrix.scaleY.valueOf(), 20);
assert.equal(place.matrix.rotateSkew0.valueOf(), 0);
assert.equal(place.matrix.rotateSkew1.valueOf(), 0);
assert.equal(place.matrix.translateX, 0);
assert.equal(place.matrix.translateY, 0);
assert.equal(place.colorTransform, undefined);

assert.deepEqual(actionsOf(tags[6]), ["who", "quillon", 0x1d, 0x00]);
assert.equal(tags[8].depth, 1);

console.log(`ok: ${file} (${bytes.length} bytes, ${tags.length} tags)`);
