// The playground in a real browser: Debian's chromium, headless, driven by playwright-core,
// against the site served on 127.0.0.1. Each example's output pane is compared with what the
// command-line program prints for the same script; an error marks its line; Stop ends an
// endless loop; a shared link brings the script back. Screenshots go to <build>/screenshots.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { build, repo, siteDir } from './support.mjs';
import { serve } from './serve.mjs';

const CHROMIUM = process.env.ZANDLE_CHROMIUM ?? '/usr/bin/chromium';
const programs = {
  vm: process.env.ZANDLE_VM ?? resolve(repo, 'build', 'vm'),
  zndvm: process.env.ZANDLE_ZNDVM ?? resolve(repo, 'build', 'zndvm'),
};
const shots = resolve(build, 'screenshots');
const examples = JSON.parse(readFileSync(join(siteDir, 'examples.json'), 'utf8'));

let server;
let context;
let page;
let profile;
let work;
const problems = []; // errors the page reported

before(async () => {
  for (const p of [CHROMIUM, programs.vm, programs.zndvm]) assert.ok(existsSync(p), `${p} is missing`);
  const { chromium } = await import(resolve(repo, 'web', 'node_modules', 'playwright-core', 'index.mjs'));
  mkdirSync(shots, { recursive: true });
  work = mkdtempSync(join(tmpdir(), 'zandle-browser-'));
  profile = join(work, 'profile');
  server = await serve(siteDir);
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1280, height: 720 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = context.pages()[0] ?? (await context.newPage());
  page.setDefaultTimeout(10000);
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  await page.goto(server.url);
  await page.waitForFunction(() => window.playground?.phase === 'ready', null, { timeout: 20000 });
});

after(async () => {
  await context?.close();
  await server?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

// What the command-line program prints for a script: its output (standard output for zndvm,
// standard error less the error line for vm), the failure's name and the exit status.
function commandLine(kind, text) {
  const file = join(work, 'script.znd');
  writeFileSync(file, text);
  const r = spawnSync(programs[kind], [file], { input: '', timeout: 20000 });
  let output = kind === 'vm' ? r.stderr.toString() : r.stdout.toString();
  const errors = kind === 'vm' ? output : r.stderr.toString();
  const error = /(?:^|\n)error: (\w+)\n$/.exec(errors)?.[1] ?? '';
  if (kind === 'vm' && error) output = output.slice(0, output.length - `error: ${error}\n`.length);
  return { output, error, status: r.status };
}

async function runInPage({ via = 'button' } = {}) {
  if (via === 'keyboard') {
    await page.focus('#source');
    await page.keyboard.press('Control+Enter');
  } else {
    await page.click('#run');
  }
  await page.waitForFunction(() => window.playground.phase === 'done', null, { timeout: 30000 });
  return page.evaluate(() => ({
    output: window.playground.output,
    result: window.playground.result,
    pane: [...document.querySelectorAll('#output .term-line')].map((d) => d.textContent).join('\n'),
    status: document.getElementById('status').textContent,
    marked: [...document.querySelectorAll('#highlight .line.failed')].map((l) => Number(l.dataset.line)),
    gutter: [...document.querySelectorAll('#gutter .failed')].map((l) => Number(l.textContent)),
    calls: [...document.querySelectorAll('#call-list li')].map((l) => l.textContent),
  }));
}

async function setCap(which, value) {
  if (!(await page.evaluate(() => document.getElementById('caps').open))) await page.click('#caps summary');
  await page.fill(`#cap-${which}`, value);
}

async function choose(id) {
  await page.selectOption('#example', id);
  await page.waitForFunction((want) => document.getElementById('source').value === want,
    examples.find((e) => e.id === id).text);
}

describe('the playground', () => {
  test('loads with the first example, highlighted, and every example listed', async () => {
    assert.equal(await page.inputValue('#source'), examples[0].text);
    assert.ok(await page.locator('#highlight .tok-keyword').count() > 5);
    assert.ok(await page.locator('#highlight .tok-escape').count() > 0);
    const listed = await page.$$eval('#example option', (os) => os.map((o) => o.value).filter(Boolean));
    assert.deepEqual(listed.sort(), examples.map((e) => e.id).sort());
    await page.screenshot({ path: join(shots, 'loaded.png') });
  });

  test('each example prints what the command-line program prints', async () => {
    const compared = [];
    for (const [i, example] of examples.entries()) {
      if (example.endless || example.endsByCap) continue;
      await choose(example.id);
      assert.equal(await page.inputValue('#kind'), example.kind);
      const got = await runInPage({ via: i % 2 ? 'keyboard' : 'button' });
      const want = commandLine(example.kind, example.text);
      assert.equal(got.output, want.output, `${example.id}: output`);
      assert.equal(got.pane, want.output, `${example.id}: what the pane shows`);
      assert.equal(got.result.error, want.error, `${example.id}: error`);
      assert.equal(got.result.exitStatus, want.status, `${example.id}: exit status`);
      assert.deepEqual(got.marked, got.result.place ? [got.result.place.line] : [], `${example.id}: marked line`);
      compared.push(example.id);
      if (example.id === 'zndvm-handbook-11') await page.screenshot({ path: join(shots, 'error-marked.png') });
    }
    assert.ok(compared.length >= 8, compared.join(' '));
  });

  test('an error marks its line in the editor and gutter, and the calls are listed', async () => {
    const script = [
      '# Greets, then fails two calls deep', "New who 'web'", 'New msg "Hello who"',
      'New __Escape_std.io.print_ARG0 <msg>', 'Escape std.io.print', 'Func inner', 'New z nowhere', 'End',
      'Func outer', 'Call inner', 'End', 'Call outer', ''].join('\n');
    await page.selectOption('#kind', 'zndvm');
    await page.fill('#source', script);
    const got = await runInPage();
    const want = commandLine('zndvm', script);
    assert.deepEqual([got.pane, got.result.error], [want.output, want.error]);
    assert.equal(got.result.place.line, 7);
    assert.deepEqual(got.marked, [7]);
    assert.deepEqual(got.gutter, [7]);
    assert.match(got.status, /^error: UnknownVariable at line 7/);
    assert.deepEqual(got.calls, ['inner, called from line 10: Call inner', 'outer, called from line 12: Call outer']);
    await page.screenshot({ path: join(shots, 'calls.png') });
    // Editing clears the mark.
    await page.type('#source', ' ');
    assert.equal(await page.locator('#highlight .line.failed').count(), 0);
  });

  test('the caps end an endless loop and a runaway string, and say which', async () => {
    await setCap('instructions', '1000000');
    await choose('caps-endless');
    let got = await runInPage();
    assert.equal(got.result.halt, 'instruction_cap');
    assert.match(got.status, /instruction cap/);
    assert.ok(got.calls.length > 0 && got.calls.at(-1).startsWith('spin, called from line 7'), got.calls.at(-1));
    await choose('caps-runaway');
    got = await runInPage();
    assert.equal(got.result.error, 'OutOfMemory');
    assert.match(got.status, /^error: OutOfMemory at line 5 \(the memory cap is 64 MiB\)/);
    await setCap('instructions', '10000000');
  });

  // Stop asks the worker to pause the run between two slices: the page then shows where it stood.
  async function stopWithin(ms) {
    assert.equal(await page.evaluate(() => window.playground.phase), 'running');
    const started = Date.now();
    await page.click('#stop');
    await page.waitForFunction(() => window.playground.phase === 'stopped', null, { timeout: ms });
    const took = Date.now() - started;
    assert.ok(took < ms, `${took} ms`);
    return page.evaluate(() => ({
      by: window.playground.stoppedBy,
      status: document.getElementById('status').textContent,
      marked: [...document.querySelectorAll('#highlight .line.failed')].map((l) => Number(l.dataset.line)),
      calls: [...document.querySelectorAll('#call-list li')].map((l) => l.textContent),
    }));
  }

  test('a long run streams its output; Stop pauses it within a second and shows where it was', async () => {
    await setCap('instructions', '0');
    const script = ["New m 'spinning'", 'New __Escape_std.io.print_ARG0 <m>', 'Escape std.io.print', "New i '0'",
      'Func spin', 'New i "i + 1"', 'Call spin', 'End', 'Call spin', ''].join('\n');
    await page.selectOption('#kind', 'zndvm');
    await page.fill('#source', script);
    await page.click('#run');
    // What it printed is there while it still runs.
    await page.waitForFunction(() => window.playground.output === 'spinning\n', null, { timeout: 2000 });
    await page.waitForTimeout(300);
    const stopped = await stopWithin(1000);
    assert.equal(stopped.by, 'paused');
    assert.match(stopped.status, /^Stopped after \d+\.\d\d s at line [67]\.$/);
    assert.ok(stopped.marked.length === 1 && [6, 7].includes(stopped.marked[0]), JSON.stringify(stopped.marked));
    assert.equal(stopped.calls.at(-1), 'spin, called from line 9: Call spin');
    assert.equal(await page.isDisabled('#run'), false);
    assert.equal(await page.evaluate(() =>
      [...document.querySelectorAll('#output .term-line')].map((d) => d.textContent).join('\n')), 'spinning\n');
    await page.screenshot({ path: join(shots, 'stopped.png') });
    await setCap('instructions', '10000000');
    await choose('zndvm-handbook-7');
    assert.equal((await runInPage()).output, 'hi\n');
  });

  test('Stop during a long sleep ends the worker within a second, and the next run works', async () => {
    await page.selectOption('#kind', 'zndvm');
    await page.fill('#source', "New t '60000'\nNew __Escape_std.misc.sleep_ARG0 <t>\nEscape std.misc.sleep\n");
    await page.click('#run');
    await page.waitForTimeout(300);
    const stopped = await stopWithin(1000);
    assert.equal(stopped.by, 'terminated');
    assert.match(stopped.status, /^Stopped after \d+\.\d\d s\.$/);
    // The new worker pauses the next run as the first did.
    await setCap('instructions', '0');
    await choose('caps-endless');
    await page.click('#run');
    await page.waitForTimeout(300);
    assert.equal((await stopWithin(1000)).by, 'paused');
    await setCap('instructions', '10000000');
  });

  test('dance is drawn in the terminal view as the program draws it', async () => {
    // The program's own output for a little over two poses.
    const child = spawn(programs.zndvm, ['dance'], { stdio: ['ignore', 'pipe', 'ignore'] });
    const chunks = [];
    child.stdout.on('data', (d) => chunks.push(d));
    await new Promise((done) => setTimeout(done, 1300));
    child.kill();
    await new Promise((done) => child.on('close', done));
    const program = Buffer.concat(chunks).toString();

    await choose('zndvm-dance');
    await page.click('#run');
    await page.waitForFunction(() => window.playground.output.includes('\\(**)'), null, { timeout: 5000 });
    await page.waitForTimeout(100);
    await page.screenshot({ path: join(shots, 'dance.png') });
    const { output, screen } = await page.evaluate(() => ({
      output: window.playground.output,
      screen: [...document.querySelectorAll('#output .term-line')].map((d) => d.textContent),
    }));
    await page.click('#stop');
    const shorter = output.length < program.length ? output : program;
    assert.ok(shorter.length > 60, `${output.length} and ${program.length} characters`);
    assert.equal((output.length < program.length ? program : output).slice(0, shorter.length), shorter);
    const poses = [[' (**)/', '<)  ) ', ' /  \\ '], ['\\(**) ', ' (  )>', ' /  \\ ']];
    assert.ok(poses.some((p) => JSON.stringify(screen.slice(0, 3)) === JSON.stringify(p)), JSON.stringify(screen));
  });

  test('the input box is what std.io.input and Input read', async () => {
    await page.click('#input-box summary');
    await page.fill('#input', 'first line\nsecond\n');
    await page.selectOption('#kind', 'vm');
    await page.fill('#source', "Escape Input\nEscape Input\nNew ARG1 'input'\nEscape Print\nEscape Input\n");
    const got = await runInPage();
    assert.equal(got.output, 'second\n');
    assert.equal(got.result.error, 'EndOfStream');
    await page.fill('#input', '');
  });

  test('a shared link brings back the script and its machine', async () => {
    const script = "New msg 'shared ✓'\nNew ARG1 'msg'\nEscape Print\n";
    await page.selectOption('#kind', 'vm');
    await page.fill('#source', script);
    // The address already follows the editor (after a pause in typing), so wait for the share
    // itself to have finished, not merely for some "#vm:" address.
    await page.click('#share');
    await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('The link to this script'));
    const link = page.url();
    const other = await context.newPage();
    try {
      await other.goto(link);
      await other.waitForFunction(() => window.playground?.phase === 'ready');
      assert.equal(await other.inputValue('#source'), script);
      assert.equal(await other.inputValue('#kind'), 'vm');
      await other.click('#run');
      await other.waitForFunction(() => window.playground.phase === 'done');
      assert.equal(await other.evaluate(() => window.playground.output), 'shared ✓\n');
    } finally {
      await other.close();
    }
  });

  test('the page reported no errors', () => {
    assert.deepEqual(problems, []);
  });
});
