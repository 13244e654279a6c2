// Every kind of movie the program writes - MP3 and ADPCM sound at each rate, several parts, a
// preloader, the link button, freed bitmaps, a larger stage - read by tools that know nothing of
// the program: swf-parser must model every tag, and FFmpeg must recognise each file by its
// content alone and decode its sound.
// Usage: node outputs_check.mjs <output folder> <quillon program> <swf_sample_writer program>
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { parseSwf, swf } from "swf-parser";

const TagType = swf.TagType;
const [root, quillon, sampleWriter] = process.argv.slice(2);
const at = (name) => path.join(root, name);

function run(program, args) {
  const r = spawnSync(program, args, { maxBuffer: 256 << 20, timeout: 120000 });
  assert.ok(!r.error, `${program}: ${r.error}`);
  assert.equal(r.status, 0, `${path.basename(program)} ${args.join(" ")}:\n${r.stderr}`);
  return r.stdout;
}
const ffmpeg = (args) => run("ffmpeg", ["-v", "error", "-nostdin", "-y", ...args]);

// 3 s of 160 x 120 at 12 fps with a stereo tone whose pitch moves, so that decoded sound is
// never silence.
const clip = at("clip.mp4");
ffmpeg(["-f", "lavfi", "-i", "testsrc2=s=160x120:r=12:d=3", "-f", "lavfi", "-i",
        "aevalsrc=0.5*sin(2*PI*(400+200*t)*t)|0.5*sin(2*PI*(700-100*t)*t):s=44100:d=3",
        "-pix_fmt", "yuv420p", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
        "-shortest", clip]);
run(sampleWriter, [root]);
const preloader = at("preloader.swf");
fs.renameSync(at("encoded.swf"), preloader);

// name: settings lines, extra arguments, and what the output must hold.
const kinds = [
  { name: "mp3", codec: "mp3", rate: 22050 },
  { name: "mp3_44100", settings: ["Audio.Rate=44100", "Audio.MP3kbps=64"], codec: "mp3",
    rate: 44100 },
  { name: "mp3_11025_mono", settings: ["Audio.Rate=11025", "Audio.ForceMono=Yes"],
    codec: "mp3", rate: 11025 },
  { name: "adpcm", settings: ["Audio.Compression=ADPCM", "Audio.ADPCMBits=4"],
    codec: "adpcm_swf", rate: 22050 },
  { name: "parts", args: ["-ps", "24"], codec: "mp3", rate: 22050, minParts: 3 },
  { name: "preloader", settings: [`Transport.Player.Loader=${preloader}`], codec: "mp3",
    rate: 22050, stage: { xMin: 0, xMax: 32 * 20, yMin: 0, yMax: 24 * 20 } },
  { name: "link", settings: ["Transport.Player.LinkType=getUrl",
                             "Transport.Player.Link=http://example.org/"], codec: "mp3",
    rate: 22050 },
  { name: "larger_stage", settings: ["Transport.BackWidth=125", "Transport.BackHeight=150"],
    codec: "mp3", rate: 22050, stage: { xMin: 0, xMax: 200 * 20, yMin: 0, yMax: 180 * 20 } },
  { name: "no_sound", settings: ["Audio.Process=No", "Transport.Player.OptimizeMemory=No"] },
];

// Tag framing read by hand, so that tags the parser keeps raw are still seen.
function framing(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let pos = 8 + Math.ceil((5 + 4 * (bytes[8] >> 3)) / 8) + 4;
  const tags = [];
  for (;;) {
    assert.ok(pos + 2 <= bytes.length, "tag header inside the file");
    const word = view.getUint16(pos, true);
    let length = word & 0x3f;
    const long = length === 0x3f;
    if (long) length = view.getUint32(pos + 2, true);
    pos += (long ? 6 : 2) + length;
    assert.ok(pos <= bytes.length, `tag ${word >> 6} inside the file`);
    tags.push(word >> 6);
    if (word >> 6 === 0) break;
  }
  assert.equal(pos, bytes.length, "End tag closes the file");
  return tags;
}

// No -f: the format must be recognised from the file's own bytes. FFmpeg's SWF reader offers
// sound and a few bitmap kinds as streams, so a movie without sound has no stream it can open;
// it must still be taken for SWF rather than refused as invalid data.
function probe(file, withSound) {
  const r = spawnSync("ffprobe", ["-v", "error", "-show_entries",
      "format=format_name:stream=codec_type,codec_name,sample_rate,channels", "-of", "json", file]);
  if (!withSound) {
    assert.doesNotMatch(r.stderr.toString(), /Invalid data/, `ffprobe refuses ${file}`);
    return null;
  }
  assert.equal(r.status, 0, `ffprobe does not recognise ${file}: ${r.stderr}`);
  return JSON.parse(r.stdout.toString());
}

function decodedSound(file, rate) {
  const pcm = ffmpeg(["-i", file, "-map", "0:a:0", "-f", "s16le", "-ac", "1", "-ar",
                      String(rate), "pipe:1"]);
  let squares = 0;
  for (let i = 0; i + 1 < pcm.length; i += 2) squares += pcm.readInt16LE(i) ** 2;
  return { samples: pcm.length / 2, squares };
}

for (const kind of kinds) {
  const dir = at(kind.name);
  fs.mkdirSync(dir, { recursive: true });
  const settings = path.join(dir, "case.settings");
  fs.writeFileSync(settings, (kind.settings || []).join("\n") + "\n");
  run(quillon, [clip, path.join(dir, "movie.swf"), "-s", settings, "-l",
                path.join(dir, "log.txt"), ...(kind.args || [])]);
  const parts = fs.readdirSync(dir).filter((f) => /^movie\d*\.swf$/.test(f));
  assert.ok(parts.length >= (kind.minParts || 1), `${kind.name}: ${parts.length} parts`);
  if (!kind.minParts) assert.equal(parts.length, 1, `${kind.name}: one part`);

  let frees = 0;
  let frames = 0;
  const decoded = { samples: 0, squares: 0 };
  for (const part of parts) {
    const where = `${kind.name}/${part}`;
    const file = path.join(dir, part);
    const bytes = new Uint8Array(fs.readFileSync(file));
    const codes = framing(bytes);
    const movie = parseSwf(bytes);
    assert.equal(movie.tags.length, codes.length - 1, `${where}: every tag but End parsed`);
    movie.tags.forEach((tag, i) => {
      // FreeCharacter (3) is the one tag the parser does not model.
      if (codes[i] === 3) {
        ++frees;
        return;
      }
      assert.ok(tag.type !== TagType.Raw && tag.type !== TagType.RawBody,
                `${where}: tag ${i} (code ${codes[i]}) not read: ${JSON.stringify(tag).slice(0, 200)}`);
    });
    assert.deepEqual({ ...movie.header.frameSize },
                     kind.stage || { xMin: 0, xMax: 160 * 20, yMin: 0, yMax: 120 * 20 },
                     `${where}: stage`);
    const heads = movie.tags.filter((t) => t.type === TagType.SoundStreamHead);
    assert.equal(heads.length, kind.codec ? 1 : 0, `${where}: sound heads`);
    if (kind.codec === "mp3") assert.equal(heads[0].latencySeek, 1105, `${where}: LatencySeek`);
    if (kind.codec === "adpcm_swf") assert.equal(heads[0].latencySeek, undefined);
    frames += movie.header.frameCount;

    const info = probe(file, Boolean(kind.codec));
    if (!kind.codec) continue;
    assert.equal(info.format.format_name, "swf", `${where}: probed format`);
    const audio = info.streams.filter((s) => s.codec_type === "audio");
    assert.equal(audio.length, 1, `${where}: one sound stream`);
    assert.equal(audio[0].codec_name, kind.codec, `${where}: sound codec`);
    assert.equal(Number(audio[0].sample_rate), kind.rate, `${where}: sound rate`);
    const sound = decodedSound(file, kind.rate);
    const soundSeconds = sound.samples / kind.rate;
    const seconds = movie.header.frameCount / movie.header.frameRate.valueOf();
    // Each part carries the sound of its own frames; MP3 frames round it up a little, and a
    // preloader's frames have none.
    assert.ok(Math.abs(soundSeconds - seconds) <= 0.2,
              `${where}: ${soundSeconds.toFixed(3)} s of sound in ${seconds.toFixed(3)} s of movie`);
    decoded.samples += sound.samples;
    decoded.squares += sound.squares;
  }
  // Over the whole movie: a later part decoded on its own starts with a few silent MP3
  // frames, whose bit reservoir lies in the part before.
  const rms = Math.sqrt(decoded.squares / Math.max(decoded.samples, 1));
  if (kind.codec) assert.ok(rms > 3000, `${kind.name}: decoded sound is silent (RMS ${rms})`);
  console.log(`ok: ${kind.name}: ${parts.length} part(s), ${frames} frames` +
              (kind.codec ? `, ${(decoded.samples / kind.rate).toFixed(2)} s of ${kind.codec} ` +
                            `sound (RMS ${rms.toFixed(0)})` : "") +
              (frees ? `, ${frees} FreeCharacter tags` : ""));
}
