// Puts the web build together from the WebAssembly modules: the npm package (package/) and the
// playground's static site (site/), then checks the modules: each within its size budget, raw
// and compressed (the sizes are printed), and each loads with the package's loader and runs a
// line.
//
//     node web/tools/stage.mjs WASM_DIR OUT_DIR
import { cpSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { gzipSync } from 'node:zlib';
import { collectExamples } from './examples.mjs';

const RAW_MAX = 150_000;
const GZIP_MAX = 60_000;

const web = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const root = resolve(web, '..');
const [wasmDir, outDir] = process.argv.slice(2).map((p) => resolve(p));
if (!wasmDir || !outDir) {
  console.error('usage: stage.mjs WASM_DIR OUT_DIR');
  process.exit(2);
}

let over = false;
for (const kind of ['vm', 'zndvm']) {
  const bytes = readFileSync(join(wasmDir, `${kind}.wasm`));
  const gzip = gzipSync(bytes, { level: 9 }).length;
  const fits = bytes.length <= RAW_MAX && gzip <= GZIP_MAX;
  over ||= !fits;
  console.log(`web: ${kind}.wasm ${bytes.length} bytes (at most ${RAW_MAX}), gzip ${gzip} bytes (at most ${GZIP_MAX})` +
    `${fits ? '' : '  TOO LARGE'}`);
}
if (over) process.exit(1);

const pkg = join(outDir, 'package');
rmSync(pkg, { recursive: true, force: true });
mkdirSync(pkg, { recursive: true });
const manifest = JSON.parse(readFileSync(join(web, 'package.json'), 'utf8'));
for (const file of manifest.files) {
  const from = file.endsWith('.wasm') ? join(wasmDir, file) : join(web, file);
  cpSync(from, join(pkg, file));
}
cpSync(join(web, 'package.json'), join(pkg, 'package.json'));

const site = join(outDir, 'site');
rmSync(site, { recursive: true, force: true });
cpSync(join(web, 'playground'), site, {
  recursive: true,
  filter: (path) => !path.endsWith('.png') && !path.includes(`${join('playground', 'examples')}`),
});
cpSync(pkg, join(site, 'zandle'), { recursive: true });
cpSync(join(root, 'editors', 'textmate', 'zandle.tmLanguage.json'), join(site, 'zandle.tmLanguage.json'));
writeFileSync(join(site, 'examples.json'), `${JSON.stringify(collectExamples(root), null, 1)}\n`);

// The staged package loads its modules and runs a line on each machine.
const { Zandle } = await import(pathToFileURL(join(pkg, 'zandle.js')));
for (const kind of ['vm', 'zndvm']) {
  let printed = '';
  const m = await Zandle.create({ kind, output: (text) => { printed += text; } });
  const line = kind === 'vm' ? "New m 'ok'\nNew ARG1 'm'\nEscape Print\n" : "New m 'ok'\nNew __Escape_std.io.print_ARG0 <m>\nEscape std.io.print\n";
  const result = m.run(line, 'stage');
  m.free();
  if (result.status !== 'ok' || printed !== 'ok\n') {
    console.error(`web: the ${kind} module does not run: ${JSON.stringify(result)} ${JSON.stringify(printed)}`);
    process.exit(1);
  }
}
console.log(`web: package in ${pkg}, playground in ${site}`);
