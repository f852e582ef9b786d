// The playground page: an editor with the grammar's highlighting, the examples, and runs in a
// Web Worker (worker.js) whose output is drawn by the terminal view; a failure (or Stop) marks
// its line and shows the calls that were running. The script lives in the page's address.
import { Grammar, classOf } from './highlight.js';
import { decodeScript, encodeScript } from './share.js';
import { Terminal, renderTerminal } from './terminal.js';

const $ = (id) => document.getElementById(id);
const source = $('source');
const highlight = $('highlight');
const gutter = $('gutter');
const kindSelect = $('kind');
const exampleSelect = $('example');
const runButton = $('run');
const stopButton = $('stop');
const statusLine = $('status');
const outputPane = $('output');

const NAME = 'playground.znd';
const terminal = new Terminal();

// What the browser test reads: the state of the last run, its raw output and its result, and
// how Stop ended it ('paused' or 'terminated').
const state = { phase: 'loading', output: '', result: null, elapsed: 0, examples: [], stoppedBy: '' };
window.playground = state;

let grammar = null;
let worker = null;
let workerReady = null;
let running = false;
let runStarted = 0;
let runNumber = 0;
let failedLine = 0;
let stopTimer = 0;

// How long Stop waits for the worker to pause the run between two slices before it ends the
// worker: a slice is a few milliseconds of work, but a script may be sleeping.
const STOP_GRACE_MS = 250;

// --- the editor ----------------------------------------------------------------------

function escapeHtml(s) {
  return s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

function paint() {
  const lines = source.value.split('\n');
  const tokenized = grammar ? grammar.tokenize(lines).lines : lines.map((l) => [{ text: l, scopes: [] }]);
  highlight.innerHTML = tokenized
    .map((tokens, i) => {
      const body = tokens
        .map(({ text, scopes }) => {
          const cls = classOf(scopes);
          return cls ? `<span class="${cls}">${escapeHtml(text)}</span>` : escapeHtml(text);
        })
        .join('');
      const failed = i + 1 === failedLine ? ' failed' : '';
      return `<span class="line${failed}" data-line="${i + 1}">${body}</span>`;
    })
    .join('');
  gutter.innerHTML = lines
    .map((_, i) => `<div${i + 1 === failedLine ? ' class="failed"' : ''}>${i + 1}</div>`)
    .join('');
  syncScroll();
}

function syncScroll() {
  highlight.scrollTop = source.scrollTop;
  highlight.scrollLeft = source.scrollLeft;
  gutter.scrollTop = source.scrollTop;
}

function markLine(line) {
  failedLine = line;
  paint();
}

function goToLine(line) {
  const lines = source.value.split('\n');
  const start = lines.slice(0, line - 1).reduce((n, l) => n + l.length + 1, 0);
  source.focus();
  source.setSelectionRange(start, start + (lines[line - 1] ?? '').length);
  const lineHeight = parseFloat(getComputedStyle(source).lineHeight) || 20;
  source.scrollTop = Math.max(0, (line - 3) * lineHeight);
  syncScroll();
}

// --- the address -----------------------------------------------------------------------

let addressTimer = 0;
function keepInAddress() {
  clearTimeout(addressTimer);
  addressTimer = setTimeout(async () => {
    const fragment = await encodeScript(kindSelect.value, source.value);
    history.replaceState(null, '', `#${fragment}`);
  }, 300);
}

async function shareLink() {
  clearTimeout(addressTimer);
  const fragment = await encodeScript(kindSelect.value, source.value);
  history.replaceState(null, '', `#${fragment}`);
  try {
    await navigator.clipboard.writeText(location.href);
    setStatus('', 'The link to this script is in the address bar and on the clipboard.');
  } catch {
    setStatus('', 'The link to this script is in the address bar.');
  }
}

// --- running -------------------------------------------------------------------------

function setStatus(cls, text) {
  statusLine.className = cls;
  statusLine.textContent = text;
}

function startWorker() {
  worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
  workerReady = new Promise((resolve) => {
    worker.onmessage = ({ data }) => {
      if (data.type === 'ready') resolve();
      else onWorkerMessage(data);
    };
  });
  worker.onerror = (e) => {
    if (!running) return;
    finish('failed', `The run could not start: ${e.message ?? 'the worker failed'}`);
  };
}

let renderQueued = false;
function renderSoon() {
  if (renderQueued) return;
  renderQueued = true;
  requestAnimationFrame(() => {
    renderQueued = false;
    renderTerminal(terminal, outputPane);
    outputPane.scrollTop = outputPane.scrollHeight;
  });
}

function capValue(input, scale) {
  const n = Number(input.value);
  return Number.isFinite(n) && n > 0 ? Math.floor(n) * scale : 0;
}

async function run() {
  if (running) return;
  running = true;
  runButton.disabled = true;
  stopButton.disabled = false;
  terminal.reset();
  state.output = '';
  state.result = null;
  state.stoppedBy = '';
  state.phase = 'running';
  renderTerminal(terminal, outputPane);
  $('calls').hidden = true;
  markLine(0);
  setStatus('running', 'Running…');
  if (worker === null) startWorker();
  const number = ++runNumber;
  await workerReady;
  if (!running || number !== runNumber || worker === null) return; // stopped meanwhile
  runStarted = performance.now();
  worker.postMessage({
    type: 'run',
    number,
    kind: kindSelect.value,
    text: source.value,
    name: NAME,
    input: $('input').value,
    instructionCap: capValue($('cap-instructions'), 1),
    memoryCap: Math.min(capValue($('cap-memory'), 1024 * 1024), 0xffffffff),
  });
}

function stop() {
  if (!running || stopTimer !== 0) return;
  if (worker === null) return;
  // The worker pauses the run at its next slice and says where it stood; a run that does not
  // come to a slice in time (it sleeps) is ended with its worker.
  worker.postMessage({ type: 'stop', number: runNumber });
  stopTimer = setTimeout(() => {
    stopTimer = 0;
    if (!running) return;
    runNumber++;
    worker.terminate();
    worker = null;
    const seconds = ((performance.now() - runStarted) / 1000).toFixed(2);
    finish('stopped', `Stopped after ${seconds} s.`);
    state.stoppedBy = 'terminated';
    state.phase = 'stopped';
    startWorker();
  }, STOP_GRACE_MS);
}

function finish(cls, text) {
  clearTimeout(stopTimer);
  stopTimer = 0;
  running = false;
  runButton.disabled = false;
  stopButton.disabled = true;
  renderTerminal(terminal, outputPane);
  setStatus(cls, text);
}

const HALTS = {
  instructions: "vm's budget of instructions ran out",
  new: "vm's budget of New ran out",
  escape: "vm's budget of Escape ran out",
  func: "vm's budget of Func and If ran out",
  call: "vm's budget of Call ran out",
  return: "vm's budget of Return ran out",
  instruction_cap: 'the instruction cap was reached',
  call_stack: 'the calls nested too deep',
  exit: 'the script asked to exit',
};

function describe(result, elapsed, memoryCap) {
  const where = result.place ? ` at line ${result.place.line}` : '';
  const time = elapsed < 1000 ? `${Math.round(elapsed)} ms` : `${(elapsed / 1000).toFixed(2)} s`;
  if (result.status === 'ok') return `Finished in ${time}.`;
  if (result.status === 'failed') {
    const cap = result.error === 'OutOfMemory' && memoryCap > 0 ? ` (the memory cap is ${memoryCap / 1048576} MiB)` : '';
    return `error: ${result.error}${where}${cap}`;
  }
  return `Halted${where}: ${HALTS[result.halt] ?? result.halt} (exit status ${result.exitStatus}).`;
}

function onWorkerMessage(data) {
  if (!running || (data.number !== undefined && data.number !== runNumber)) return;
  if (data.type === 'output') {
    terminal.write(data.text);
    state.output += data.text;
    renderSoon();
    return;
  }
  if (data.type === 'failure') {
    state.phase = 'done';
    finish('failed', data.message);
    return;
  }
  if (data.type === 'stopped') {
    const { result } = data;
    state.result = result;
    state.elapsed = data.elapsed;
    const where = result.place ? ` at line ${result.place.line}` : '';
    finish('stopped', `Stopped after ${(data.elapsed / 1000).toFixed(2)} s${where}.`);
    if (result.place) markLine(result.place.line);
    showCalls(result.calls);
    state.stoppedBy = 'paused';
    state.phase = 'stopped';
    return;
  }
  if (data.type !== 'done') return;
  const { result } = data;
  state.result = result;
  state.elapsed = data.elapsed;
  let text = describe(result, data.elapsed, capValue($('cap-memory'), 1024 * 1024));
  if (data.truncated) text += ' The output was cut short.';
  finish(result.status === 'ok' ? 'ok' : result.status, text);
  if (result.place) markLine(result.place.line);
  showCalls(result.calls);
  state.phase = 'done';
}

// Deep recursion can leave thousands of calls: the innermost ones and the outermost are shown.
const CALLS_SHOWN = 10;

function showCalls(calls) {
  const list = $('call-list');
  list.replaceChildren();
  $('calls').hidden = calls.length === 0;
  const shown = calls.length <= CALLS_SHOWN ? calls : [...calls.slice(0, CALLS_SHOWN - 2), null, calls[calls.length - 1]];
  for (const call of shown) {
    const item = document.createElement('li');
    if (call === null) {
      item.className = 'more';
      item.textContent = `… ${calls.length - CALLS_SHOWN + 1} more calls …`;
    } else {
      const link = document.createElement('a');
      link.textContent = `line ${call.line}`;
      link.addEventListener('click', () => goToLine(call.line));
      item.append(`${call.function}, called from `, link, `: ${call.text}`);
    }
    list.append(item);
  }
}

// --- examples and start-up -------------------------------------------------------------

function load(kind, text, id = '') {
  exampleSelect.value = id;
  kindSelect.value = kind;
  source.value = text;
  markLine(0);
  keepInAddress();
}

async function start() {
  const [grammarJson, examples] = await Promise.all([
    fetch('zandle.tmLanguage.json').then((r) => r.json()),
    fetch('examples.json').then((r) => r.json()),
  ]);
  grammar = new Grammar(grammarJson);
  state.examples = examples;
  for (const kind of ['zndvm', 'vm']) {
    const group = document.createElement('optgroup');
    group.label = kind;
    for (const e of examples.filter((x) => x.kind === kind)) {
      const option = new Option(e.title, e.id);
      group.append(option);
    }
    exampleSelect.append(group);
  }
  const shared = await decodeScript(location.hash);
  if (shared !== null) {
    kindSelect.value = shared.kind;
    source.value = shared.text;
  } else {
    const first = examples[0];
    load(first.kind, first.text, first.id);
  }
  paint();
  startWorker();
  state.phase = 'ready';
}

source.addEventListener('input', () => {
  failedLine = 0;
  exampleSelect.value = '';
  paint();
  keepInAddress();
});
source.addEventListener('scroll', syncScroll);
kindSelect.addEventListener('change', () => {
  exampleSelect.value = '';
  keepInAddress();
});
exampleSelect.addEventListener('change', () => {
  const e = state.examples.find((x) => x.id === exampleSelect.value);
  if (e) load(e.kind, e.text, e.id);
});
runButton.addEventListener('click', run);
stopButton.addEventListener('click', stop);
$('share').addEventListener('click', shareLink);
document.addEventListener('keydown', (e) => {
  if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) {
    e.preventDefault();
    run();
  }
});

start().catch((e) => setStatus('failed', `The playground could not start: ${e.message}`));
