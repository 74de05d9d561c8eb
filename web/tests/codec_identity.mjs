// The page's wasm module alone, under node, against the native `vellum` of the same
// sources: PNG -> BLP bytes equal `vellum encode --options WORD`'s for every PNG kind and
// option set; BLP -> PNG equal to `vellum decode`'s in header, rows and palette (the
// palette `vellum decode` writes may stop before unused entries; also damaged files,
// `--salvage`);
// the description equals `vellum info --json`; malformed input gives a message and the
// module keeps working.
//   VELLUM=build/native/cli/vellum VELLUM_WEB_BUILD=build/wasm/web node web/tests/codec_identity.mjs
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync, existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import test from 'node:test';

import { blpCorpus, optionSets, pngContent, pngHeaderOnly, pngSources, run, runStatus, wordText } from './support/corpus.mjs';

const require = createRequire(import.meta.url);
const build = process.env.VELLUM_WEB_BUILD || 'build/wasm/web';
const { Codec, Status } = require('../src/codec.js');
const factory = require(resolve(build, 'vellum-codec.js'));
// node 20's fetch cannot load a file path: the module gets its wasm bytes directly.
const codec = await Codec.load(factory, { wasmBinary: readFileSync(resolve(build, 'vellum-codec.wasm')) });

const corpus = blpCorpus(64);
const sources = pngSources();
sources['texture.png'] = readFileSync(corpus.texture);

test('PNG -> BLP bytes equal vellum encode for every PNG kind and option set', () => {
  let compared = 0;
  for (const [name, png] of Object.entries(sources)) {
    const input = join(corpus.dir, `src-${name}`);
    writeFileSync(input, png);
    // Every kind with the defaults and DXT; the texture with every option set.
    const sets = name === 'texture.png' || name === 'palette4-trns.png' ? optionSets : [optionSets[0], optionSets[4], optionSets[6]];
    for (const options of sets) {
      const expected = join(corpus.dir, `${name}-${wordText(options)}.blp`);
      run('encode', '-q', '--force', '--options', wordText(options), input, '-o', expected);
      const progress = [];
      const result = codec.encodePng(png, options, (p) => { progress.push(p); return true; });
      assert.equal(result.status, Status.OK, `${name} ${wordText(options)}: ${result.message}`);
      assert.ok(Buffer.from(result.bytes).equals(readFileSync(expected)), `${name} with ${wordText(options)}: bytes differ from vellum encode`);
      assert.ok(progress.length > 0 && progress.at(-1) === 100, `${name}: progress reached ${progress.at(-1)}`);
      compared++;
    }
  }
  assert.ok(compared >= 40);
});

test('BLP -> PNG content and description equal vellum decode and vellum info', () => {
  for (const [name, path] of Object.entries({ ...corpus.blps, ...corpus.damaged })) {
    const bytes = readFileSync(path);
    const opened = codec.openBlp(bytes);
    const info = runStatus('info', '--json', path);
    if (!opened.file) {
      // vellum refuses the file too, with the same reason.
      assert.notEqual(info.status, 0, `${name}: vellum reads what the page refuses`);
      assert.ok(opened.message.length > 0 && info.output.includes(opened.message), `${name}: "${opened.message}" vs "${info.output}"`);
      continue;
    }
    const expectedInfo = JSON.parse(info.output.split('\n')[0]);
    delete expectedInfo.file;
    // The page reports damage when it decodes a level (status and message, checked below),
    // not in the description.
    delete expectedInfo.damage;
    for (const [key, value] of Object.entries(expectedInfo)) {
      assert.deepEqual(key === 'levels' ? opened.file.description.levels.map((l) => {
        const { state, layout, ...rest } = l;
        return rest;
      }) : opened.file.description[key], value, `${name}: info field ${key}`);
    }
    const damaged = name in corpus.damaged;
    const out = join(corpus.dir, `decoded-${name}.png`);
    const cli = runStatus('decode', '-q', '--force', '--all-levels', ...(damaged ? ['--salvage'] : []), path, '-o', out);
    for (const level of opened.file.description.levels) {
      if (level.state !== 'stored' || level.beyondChain) continue;
      const png = opened.file.levelPng(level.level, damaged);
      const expected = out.replace(/\.png$/, `.mip${level.level}.png`);
      if (!existsSync(expected)) {
        assert.ok(!png.bytes, `${name} level ${level.level}: the page wrote a PNG that vellum did not (${cli.output})`);
        continue;
      }
      assert.ok(png.bytes, `${name} level ${level.level}: no PNG (${png.message})`);
      const ours = pngContent(png.bytes), theirs = pngContent(readFileSync(expected));
      assert.ok(ours.header.equals(theirs.header) && ours.rows.equals(theirs.rows), `${name} level ${level.level}: PNG differs from vellum decode`);
      assert.ok(ours.palette.subarray(0, theirs.palette.length).equals(theirs.palette), `${name} level ${level.level}: palette differs`);
      const rgba = opened.file.decodeLevel(level.level);
      assert.equal(rgba.bytes.length, level.width * level.height * 4);
      assert.equal(rgba.status, png.status, `${name} level ${level.level}: decode status`);
      if (damaged && rgba.status === Status.DAMAGED) assert.ok(rgba.message.length > 0, `${name}: damage without a message`);
    }
    opened.file.close();
  }
});

test('malformed input gives a message and the module keeps working', () => {
  const cases = [
    ['empty BLP', () => codec.openBlp(new Uint8Array(0)), Status.TRUNCATED],
    ['BLP header only', () => codec.openBlp(readFileSync(corpus.blps['texture-blp2-dxt.blp']).subarray(0, 150)), Status.TRUNCATED],
    ['not a PNG', () => codec.encodePng(Buffer.from('not a png file at all'), {}), Status.ARGUMENT],
    ['PNG cut short', () => codec.encodePng(sources['rgb8.png'].subarray(0, 60), {}), Status.ARGUMENT],
    ['PNG over the page limit', () => codec.encodePng(pngHeaderOnly(10000, 10000), {}), Status.TOO_LARGE],
    ['pixels over the page limit', () => codec.encodeRgba(new Uint8Array(4), 8193, 8193, false, {}), Status.TOO_LARGE],
    ['options out of range', () => codec.encodePng(sources['rgb8.png'], { contentType: 9 }), Status.ARGUMENT],
  ];
  for (const [what, attempt, expected] of cases) {
    const result = attempt();
    assert.equal(result.status, expected, `${what}: ${result.message}`);
    assert.ok(result.message.length > 0, `${what}: no message`);
  }
  // A header that claims 32768 x 32768: opened, its level refused before any allocation.
  const huge = Buffer.from(readFileSync(corpus.blps['texture-blp2-dxt.blp']));
  huge.writeUInt32LE(32768, 12);
  huge.writeUInt32LE(32768, 16);
  const opened = codec.openBlp(huge);
  const level = opened.file.decodeLevel(0);
  assert.equal(level.status, Status.TOO_LARGE);
  assert.match(level.message, /limit of 67108864 pixels/);
  opened.file.close();
  // And the module still encodes.
  assert.equal(codec.encodePng(sources['rgb8.png'], {}).status, Status.OK);
});
