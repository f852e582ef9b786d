// Runs one script at a time for the playground, off the page's thread, so that a long run
// never freezes the page. The run goes in slices of instructions; between two, this worker
// sends the output so far and reads its messages, so that Stop can pause the run where it
// stands (the page ends the worker instead when a slice takes too long to end: a long sleep).
// Output goes back in batches; the result of the run follows it.
import { Zandle } from './zandle/zandle.js'; // the site holds the package in zandle/

// Output is sent at most every 40 ms (and before a sleep, so that what a script draws before
// it waits is seen while it waits), and no more than this many characters of it in all.
const FLUSH_MS = 40;
const OUTPUT_MAX = 4 * 1024 * 1024;
// Instructions between two looks at the messages: a few milliseconds of work.
const SLICE = 100000;

let pending = '';
let sent = 0;
let lastFlush = 0;
let truncated = false;

function flush() {
  if (pending !== '') postMessage({ type: 'output', text: pending });
  pending = '';
  lastFlush = performance.now();
}

// The run being made, and whether the page asked to stop it.
let current = 0;
let stopAsked = false;

// Lets this worker's messages in between two slices. A message on a channel of its own, not a
// timer: timers that follow one another wait at least 4 ms each.
const channel = new MessageChannel();
let wake = null;
channel.port1.onmessage = () => wake?.();
function yieldToMessages() {
  return new Promise((resolve) => {
    wake = resolve;
    channel.port2.postMessage(null);
  });
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
  if (data.type === 'stop') {
    if (data.number === current) stopAsked = true;
    return;
  }
  if (data.type !== 'run') return;
  current = data.number;
  stopAsked = false;
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
    m.setSlice(SLICE);
    const started = performance.now();
    let result = m.run(data.text, data.name);
    while (result.status === 'paused') {
      if (performance.now() - lastFlush >= FLUSH_MS) flush();
      await yieldToMessages();
      if (stopAsked) break;
      result = m.resume();
    }
    const elapsed = performance.now() - started;
    flush();
    delete result.cause;
    // Stopped, the result is where the run stood: its line and the calls in progress.
    postMessage({ type: result.status === 'paused' ? 'stopped' : 'done', number: data.number, result, elapsed, truncated,
      memoryPeak: m.memoryPeak });
  } catch (e) {
    flush();
    postMessage({ type: 'failure', number: data.number, message: String(e?.message ?? e) });
  } finally {
    m?.free();
  }
};

postMessage({ type: 'ready' });
