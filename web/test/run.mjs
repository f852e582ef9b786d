// Runs the web package's tests that need no browser (for ctest): the package, npm's tarball of
// it, and the playground's parts. Exits 77 (skipped) where the web build was not made.
import { spawnSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const build = resolve(process.env.ZANDLE_WEB_BUILD ?? join(here, '..', '..', 'build-web'));
if (!existsSync(join(build, 'package', 'zandle.js'))) {
  console.log(`skipped: no web build at ${build} (make web)`);
  process.exit(77);
}
const files = ['package.test.mjs', 'control.test.mjs', 'pack.test.mjs', 'playground.test.mjs'].map((f) => join(here, f));
const r = spawnSync(process.execPath, ['--test', ...files], { stdio: 'inherit', env: { ...process.env, ZANDLE_WEB_BUILD: build } });
process.exit(r.status ?? 1);
