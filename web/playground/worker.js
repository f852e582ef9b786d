// Runs one script at a time for the playground, off the page's thread, so that a long run
// never freezes the page and Stop can end it by ending this worker. Output goes back in
// batches; the result of the run follows it.
import { Zandle } from './zandle/zandle.js'; // the site holds the package in zandle/

// Output is sent at most every 40 ms (and before a sleep, so that what a script draws before
// it waits is seen while it waits), and no more than this many characters of it in all.
const FLUSH_MS = 40;
const OUTPUT_MAX = 4 * 1024 * 1024;

let pending = '';
let sent = 0;
let lastFlush = 0;
let truncated = false;

function flush() {
  if (pending !== '') postMessage({ type: 'output', text: pending });
  pending = '';
  lastFlush = performance.now();
}

function output(text) {
  if (sent + text.length > OUTPUT_MAX) {
    text = text.slice(0, Math.max(0, OUTPUT_MAX - sent));
    truncated = true;
  }
  sent += text.length;
  pending += text;
  if (performance.now() - lastFlush >= FLUSH_MS) flush();
}

// A worker of a page without cross-origin isolation cannot block on Atomics.wait, so a sleep
// waits by watching the clock.
function sleep(ms) {
  flush();
  const end = performance.now() + ms;
  while (performance.now() < end) {
    // waiting
  }
}

onmessage = async ({ data }) => {
  if (data.type !== 'run') return;
  pending = '';
  sent = 0;
  truncated = false;
  lastFlush = performance.now();
  let m;
  try {
    m = await Zandle.create({
      kind: data.kind,
      instructionCap: data.instructionCap,
      memoryCap: data.memoryCap,
      // This build has no file or process escapes at all, so "all" is the console, strings,
      // time, random numbers and the terminal's sequences that dance draws with.
      preset: 'all',
      input: data.input,
      output,
      sleep,
    });
    const started = performance.now();
    const result = m.run(data.text, data.name);
    const elapsed = performance.now() - started;
    flush();
    delete result.cause;
    postMessage({ type: 'done', result, elapsed, truncated, memoryPeak: m.memoryPeak });
  } catch (e) {
    flush();
    postMessage({ type: 'failure', message: String(e?.message ?? e) });
  } finally {
    m?.free();
  }
};

postMessage({ type: 'ready' });
