// Reads the JCAMP-DX files that `velmora-cli run --jcamp` writes with jcampconverter, a reader
// written by others, and compares what it finds with the command line's own tables: the Hz axis
// (which the reader turns into ppm with the observe frequency), the real and imaginary spectrum
// pages, the FID's time axis and the 2D map with both axes.
//   node check_jcamp.mjs VELMORA_CLI EXAMPLES_DIR NODE_PACKAGES_DIR
// Exits 77 (skipped) when jcampconverter is not installed in NODE_PACKAGES_DIR.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { cpSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [cli, examples, packages] = process.argv.slice(2);
let convert;
try {
  const resolved = createRequire(join(packages, 'package.json')).resolve('jcampconverter');
  ({ convert } = await import(pathToFileURL(resolved).href));
} catch {
  console.log('jcampconverter is not installed in ' + packages + ': skipped');
  process.exit(77);
}

function runExample(mol, psq, extra) {
  const dir = mkdtempSync(join(tmpdir(), 'velmora-jcamp-'));
  cpSync(examples, dir, { recursive: true });
  execFileSync(cli, ['run', '--workdir', dir, '--mol', mol, '--psq', psq, '--jcamp', '--quiet', ...extra]);
  return dir;
}

function table(path) {
  return readFileSync(path, 'utf8').trim().split(/\r?\n/).map((line) => line.split('\t'));
}

function read(path) {
  const parsed = convert(readFileSync(path, 'latin1'), { keepSpectra: true, noContour: true });
  assert.equal(parsed.flatten.length, 1, path + ': one block');
  return parsed.flatten[0];
}

function symbolUnits(entry, symbol) {
  return entry.ntuples.find((n) => n.symbol === symbol)?.units;
}

function factorOf(entry, symbol) {
  return entry.ntuples.find((n) => n.symbol === symbol).factor;
}

let checks = 0;
function near(actual, expected, tolerance, what) {
  assert.ok(Math.abs(actual - expected) <= tolerance, `${what}: ${actual} vs ${expected} (tolerance ${tolerance})`);
  ++checks;
}

// 1D: the pulse-acquire example.
const oneD = runExample('pulse_acquire.mol', 'pulse_acquire.psq', []);
try {
  const rows = table(join(oneD, 'spectra.tsv')).slice(1).map((r) => r.map(Number));
  const spectrum = read(join(oneD, 'spectrum_run0.jdx'));
  assert.equal(symbolUnits(spectrum, 'X'), 'HZ');
  const mhz = spectrum.spectra[0].observeFrequency;
  assert.equal(mhz, 170, "the examples' proton frequency");
  assert.equal(spectrum.spectra.length, 2, 'a real and an imaginary page');
  for (const [page, column, symbol] of [[0, 1, 'R'], [1, 2, 'I']]) {
    const { x, y } = spectrum.spectra[page].data;
    assert.equal(spectrum.spectra[page].xUnits, 'PPM');
    assert.equal(x.length, rows.length);
    const half = factorOf(spectrum, symbol) / 2 + 1e-12;
    rows.forEach((row, i) => {
      near(x[i] * mhz, row[0], 1e-9 * Math.abs(row[0]) + 1e-9, `Hz of point ${i}`);
      near(y[i], row[column], half * 1.000001, `page ${symbol} point ${i}`);
    });
  }
  const fid = read(join(oneD, 'fid_run0.jdx'));
  assert.equal(symbolUnits(fid, 'X'), 'SECONDS');
  assert.equal(fid.spectra.length, 2);
  const sw = (rows[0][0] - rows[1][0]) * rows.length;
  fid.spectra[0].data.x.forEach((t, i) => near(t, i / sw, 1e-9, `time of FID point ${i}`));
} finally {
  rmSync(oneD, { recursive: true, force: true });
}

// 2D: the COSY example.
const twoD = runExample('cosy.mol', 'cosy.psq', ['--2d']);
try {
  const rows = table(join(twoD, 'map2d.tsv'));
  const f2 = rows[0].slice(1).map(Number);
  const f1 = rows.slice(1).map((r) => Number(r[0]));
  const values = rows.slice(1).map((r) => r.slice(1).map(Number));
  const map = read(join(twoD, 'map2d.jdx'));
  assert.ok(map.twoD, 'read as a 2D data set');
  assert.equal(symbolUnits(map, 'F1'), 'HZ');
  assert.equal(symbolUnits(map, 'F2'), 'HZ');
  const mhz = map.spectra[0].observeFrequency;
  const { z, minX, maxX, minY, maxY } = map.minMax;
  near(minX * mhz, Math.min(...f2), 1e-9, 'lowest F2');
  near(maxX * mhz, Math.max(...f2), 1e-9, 'highest F2');
  near(minY * mhz, Math.min(...f1), 1e-9, 'lowest F1');
  near(maxY * mhz, Math.max(...f1), 1e-9, 'highest F1');
  // The reader orders both axes upwards: rows by F1, columns by F2.
  const half = factorOf(map, 'Y') / 2 * 1.000001 + 1e-12;
  const column = (p) => (f2[0] > f2[f2.length - 1] ? f2.length - 1 - p : p);
  const row = (q) => (f1[0] > f1[f1.length - 1] ? f1.length - 1 - q : q);
  for (let q = 0; q < f1.length; ++q)
    for (let p = 0; p < f2.length; ++p) near(z[row(q)][column(p)], values[q][p], half, `map(${q}, ${p})`);
} finally {
  rmSync(twoD, { recursive: true, force: true });
}
console.log(`${checks} values agree`);
