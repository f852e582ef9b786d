// The package as npm makes it: `npm pack` gives a tarball of exactly the package's files, which
// installs into a project of its own (no registry involved) and works there, in JavaScript
// and, against its types, in TypeScript.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { after, before, test } from 'node:test';
import { packageDir, repo } from './support.mjs';

const npm = (args, cwd) => execFileSync('npm', [...args, '--no-audit', '--no-fund', '--offline'], { cwd, encoding: 'utf8' });
let scratch;
let tarball;
let files;

before(() => {
  scratch = mkdtempSync(join(tmpdir(), 'zandle-pack-'));
  const packed = JSON.parse(npm(['pack', '--json', '--pack-destination', scratch], packageDir));
  tarball = join(scratch, packed[0].filename);
  files = packed[0].files.map((f) => f.path).sort();
});

after(() => rmSync(scratch, { recursive: true, force: true }));

test('the tarball holds the module, its types, both machines and the README', () => {
  assert.deepEqual(files, ['README.md', 'package.json', 'vm.wasm', 'zandle.d.ts', 'zandle.js', 'zndvm.wasm']);
});

test('installed into a project of its own, it runs both machines by its name', (t) => {
  const project = join(scratch, 'app');
  mkdirSync(project);
  writeFileSync(join(project, 'package.json'), JSON.stringify({ name: 'app', private: true, type: 'module' }));
  npm(['install', tarball], project);
  assert.ok(readdirSync(join(project, 'node_modules', 'zandle')).includes('zndvm.wasm'));
  writeFileSync(join(project, 'app.mjs'), `
import { Zandle } from 'zandle';
let out = '';
const z = await Zandle.create({ output: (t) => { out += t; } });
z.run("New a '1 + 2'\\nNew b {a}\\nNew __Escape_std.io.print_ARG0 <b>\\nEscape std.io.print\\n");
const v = await Zandle.create({ kind: 'vm', output: (t) => { out += t; } });
const r = v.run("New x \\"2 * 21\\"\\nNew ARG1 'x'\\nEscape Print\\nEscape Nope\\n", 'app.znd');
console.log(JSON.stringify([out, r.error, r.place.line]));
`);
  const printed = execFileSync(process.execPath, ['app.mjs'], { cwd: project, encoding: 'utf8' });
  assert.deepEqual(JSON.parse(printed), ['3\n42\n', 'UnknownEscape', 4]);

  // The types describe the module: a use of each part checks, and a misuse does not.
  writeFileSync(join(project, 'tsconfig.json'), JSON.stringify({
    compilerOptions: { strict: true, noEmit: true, module: 'nodenext', target: 'es2022', types: [] },
    files: ['app.ts'],
  }));
  const tsc = resolve(repo, 'web', 'node_modules', '.bin', 'tsc');
  if (!existsSync(tsc)) {
    t.skip('no TypeScript compiler in web/node_modules (scripts/ensure-deps.sh web)');
    return;
  }
  const check = (code) => {
    writeFileSync(join(project, 'app.ts'), code);
    try {
      execFileSync(tsc, ['-p', project], { cwd: project, encoding: 'utf8' });
      return '';
    } catch (e) {
      return e.stdout || String(e);
    }
  };
  assert.equal(check(`
import { Zandle, ZandleError, EscapeFailure, type RunResult } from 'zandle';
const m: Zandle = await Zandle.create({ kind: 'vm', instructionCap: 10n, memoryCap: 1 << 20, preset: 'console',
  output: (text: string, bytes: Uint8Array) => {}, input: () => null,
  escapes: { 'app.x': (args: string[]) => { if (args.length === 0) throw new EscapeFailure('NoArgs'); return [args[0], 1n]; } } });
const r: RunResult = m.run('New a 1', 'a.znd');
const line: number | undefined = r.place?.line;
const halt: 'none' | 'instruction_cap' | string = r.halt;
try { m.get('a'); } catch (e) { if (e instanceof ZandleError) { const s: string = e.status; } }
const p = await Zandle.create({ preset: 'pure', escapes: { 'app.later': (args, machine) => { machine.pause(); } } });
p.setSlice(1000n);
p.setDeadline(2.5);
p.interrupt();
let step: RunResult = p.run('Escape app.later');
while (step.status === 'paused' && p.paused) step = p.resume();
const saved: Uint8Array = p.snapshot();
p.restore(saved);
p.restore(saved.buffer as ArrayBuffer);
p.discard();
m.free();
export {};
`), '');
  assert.match(check(`
import { Zandle } from 'zandle';
const m = await Zandle.create({ kind: 'lua' });
export {};
`), /lua/);
  assert.match(check(`
import { Zandle } from 'zandle';
const m = await Zandle.create({ preset: 'everything' });
m.restore('bytes');
export {};
`), /'"everything"'[\s\S]*type 'string' is not assignable/);
});
