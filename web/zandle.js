// Zandle for JavaScript: the two interpreters as WebAssembly modules behind the C interface,
// for Node.js and browsers (a page or a Web Worker). One machine is one module instance, so
// machines share no memory; every call goes to the C interface of include/zandle/zandle.h
// (through web/native/shim.c where a callback or the options are involved), and reports
// what it reports, with the same status and error names.

const STATUS = ['ok', 'failed', 'halted', 'out_of_memory', 'invalid_argument', 'not_found', 'wrong_type',
  'unsupported', 'busy', 'paused', 'invalid_snapshot'];
const HALT = ['none', 'instructions', 'new', 'escape', 'func', 'call', 'return', 'instruction_cap', 'call_stack',
  'exit'];
const TYPE = ['word', 'sword', 'float', 'str'];
const OK = 0;
const FAILED = 1;
const HALTED = 2;
const NOT_FOUND = 5;
const PAUSED = 9;
const WORD_MAX = (1n << 64n) - 1n;
const SWORD_MIN = -(1n << 63n);
const SIZE_MAX = 0xffffffff; // size_t of a 32-bit module
// How many arguments a host escape of zndvm is given at most (ARG0 to ARG63).
const ESCAPE_ARGS_MAX = 64;

function statusName(code) {
  return STATUS[code] ?? `status_${code}`;
}

/** A call that did not do its work: `status` is the C interface's status, by name. */
export class ZandleError extends Error {
  constructor(status, message) {
    super(message ? `${status}: ${message}` : status);
    this.name = 'ZandleError';
    this.status = status;
  }
}

/** Thrown by a host escape to fail the run with an error of its own name (letters and digits). */
export class EscapeFailure extends Error {
  constructor(errorName) {
    super(errorName);
    this.name = 'EscapeFailure';
    this.errorName = String(errorName);
  }
}

function invalid(message) {
  return new ZandleError('invalid_argument', message);
}

const encoder = new TextEncoder();
const utf8 = new TextDecoder();

function bytesOf(value, what) {
  if (typeof value === 'string') return encoder.encode(value);
  if (value instanceof Uint8Array) return value;
  throw invalid(`${what} must be a string or a Uint8Array`);
}

// The compiled modules, one per kind, loaded once.
const compiled = new Map();

async function loadBytes(source) {
  const url = source instanceof URL ? source : new URL(source, import.meta.url);
  if (url.protocol === 'file:') {
    // Node.js: its fetch does not read files.
    const { readFile } = await import('node:fs/promises');
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new ZandleError('not_found', `${url} could not be loaded (${response.status})`);
  return response.arrayBuffer();
}

async function moduleFor(kind, source) {
  if (source instanceof WebAssembly.Module) return source;
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return WebAssembly.compile(source);
  if (source !== undefined) return WebAssembly.compile(await loadBytes(source));
  if (!compiled.has(kind)) {
    const loading = loadBytes(`./${kind}.wasm`).then((bytes) => WebAssembly.compile(bytes));
    loading.catch(() => compiled.delete(kind));
    compiled.set(kind, loading);
  }
  return compiled.get(kind);
}

// Sleeping for std.misc.sleep: Atomics.wait where this thread may block (Node.js, workers of a
// cross-origin isolated page), otherwise a busy wait, which is what a worker of an ordinary
// page has. Either way only this thread waits.
let blockingWait;
function sleep(ms) {
  if (!(ms > 0)) return;
  if (blockingWait === undefined) {
    blockingWait = null;
    try {
      const cell = new Int32Array(new SharedArrayBuffer(4));
      Atomics.wait(cell, 0, 1, 0); // throws where blocking is not allowed
      blockingWait = cell;
    } catch {
      // no SharedArrayBuffer, or a thread that must not block
    }
  }
  if (blockingWait !== null) {
    Atomics.wait(blockingWait, 0, 0, ms);
    return;
  }
  const end = performance.now() + ms;
  while (performance.now() < end) {
    // waiting
  }
}

function defaultOutput(kind) {
  if (typeof process === 'object' && process.versions?.node) {
    // Where the command-line programs print: zndvm to standard output, vm to standard error.
    const stream = kind === 'vm' ? process.stderr : process.stdout;
    return (text, bytes) => stream.write(bytes);
  }
  let line = '';
  return (text) => {
    line += text;
    const end = line.lastIndexOf('\n');
    if (end >= 0) {
      console.log(line.slice(0, end));
      line = line.slice(end + 1);
    }
  };
}

function inputSource(input) {
  if (input === undefined || input === null) return () => null;
  if (typeof input === 'function') return input;
  const bytes = bytesOf(input, 'input');
  let given = false;
  return () => {
    if (given) return null;
    given = true;
    return bytes;
  };
}

function checkedCap(value, max, what) {
  if (value === undefined || value === null) return 0n;
  let n;
  if (typeof value === 'bigint') {
    n = value;
  } else if (typeof value === 'number' && Number.isInteger(value)) {
    n = BigInt(value);
  } else {
    throw invalid(`${what} must be a whole number`);
  }
  if (n < 0n || n > max) throw invalid(`${what} is out of range`);
  return n;
}

/** A machine: one interpreter of either kind, with its variables, functions and caps. */
export class Zandle {
  #kind;
  #ex;
  #memory;
  #handle = 0;
  #scratch = 0; // room for the out-parameters of the C calls
  #output;
  #decoder = new TextDecoder('utf-8', { fatal: false });
  #pull;
  #pending = new Uint8Array(0);
  #sleep;
  #escapes = new Map(); // id -> { name, fn }
  #escapeIds = new Map(); // name -> id
  #nextId = 1;
  #thrown; // what a host escape threw during the current run
  #outputFailure; // what the output function threw
  #running = false;
  #escapeRunning = false; // a host escape of this machine is being run
  #pauseAsked = false; // that escape asked the run to pause after it
  #moves = 0; // counts what changes where a run stands (run, call, resume, discard, restore, free)

  constructor(token) {
    if (token !== constructing) throw new TypeError('use await Zandle.create(options)');
  }

  /**
   * Makes a machine. Options: kind ("zndvm" or "vm"), instructionCap, memoryCap (bytes),
   * preset ("sandbox", the default, "console", "all" or "pure"), output(text, bytes), input (text, or a
   * function giving the next piece of input, null at its end), escapes ({name: (args, machine)
   * => result}), arguments (VMARG0, ...), sleep(ms) and wasm (the module or its bytes or URL).
   */
  static async create(options = {}) {
    if (options === null || typeof options !== 'object') throw invalid('the options must be an object');
    const kind = options.kind ?? 'zndvm';
    if (kind !== 'vm' && kind !== 'zndvm') throw invalid(`kind must be "vm" or "zndvm", not ${String(kind)}`);
    const instructionCap = checkedCap(options.instructionCap, WORD_MAX, 'instructionCap');
    const memoryCap = Number(checkedCap(options.memoryCap, BigInt(SIZE_MAX), 'memoryCap'));
    const preset = options.preset ?? 'sandbox';
    if (typeof preset !== 'string') throw invalid('preset must be a string');
    if (options.output !== undefined && typeof options.output !== 'function') throw invalid('output must be a function');
    if (options.sleep !== undefined && typeof options.sleep !== 'function') throw invalid('sleep must be a function');
    const escapes = options.escapes ?? {};
    if (escapes === null || typeof escapes !== 'object') throw invalid('escapes must be an object of functions');
    for (const [name, fn] of Object.entries(escapes)) {
      if (typeof fn !== 'function') throw invalid(`escape ${name} must be a function`);
    }
    if (options.arguments !== undefined && !Array.isArray(options.arguments)) throw invalid('arguments must be an array');

    const m = new Zandle(constructing);
    m.#kind = kind;
    m.#output = options.output ?? defaultOutput(kind);
    m.#pull = inputSource(options.input);
    m.#sleep = options.sleep ?? sleep;
    const module = await moduleFor(kind, options.wasm);
    const instance = await WebAssembly.instantiate(module, m.#imports());
    m.#ex = instance.exports;
    m.#memory = instance.exports.memory;
    m.#ex._initialize();
    m.#scratch = m.#ex.zandle_web_alloc(64) >>> 0;
    if (m.#scratch === 0) throw new ZandleError('out_of_memory');
    const status = m.#withBytes([preset], (p) => m.#ex.zandle_web_new(0, instructionCap, memoryCap, p, m.#scratch));
    if (status !== OK) throw new ZandleError(statusName(status), 'the machine could not be made');
    m.#handle = m.#u32(m.#scratch);
    try {
      for (const [name, fn] of Object.entries(escapes)) m.registerEscape(name, fn);
      if (options.arguments !== undefined) m.setArguments(options.arguments);
    } catch (e) {
      m.free();
      throw e;
    }
    return m;
  }

  /** "vm" or "zndvm". */
  get kind() {
    return this.#kind;
  }

  /** The library's version, "major.minor.patch". */
  get version() {
    this.#live();
    return this.#cString(this.#ex.zandle_version() >>> 0);
  }

  /** Runs a script text; its name appears in the places of failures. */
  run(text, name = '') {
    this.#live();
    const t = bytesOf(text, 'the text');
    if (typeof name !== 'string') throw invalid('the name must be a string');
    return this.#outcome(this.#whileRunning([t, name], (tp, np, tl, nl) =>
      this.#ex.zandle_run(this.#handle, tp, tl, np, nl)));
  }

  /** Runs a function an earlier run recorded, as a run of its own. */
  call(fn) {
    this.#live();
    if (typeof fn !== 'string') throw invalid('the function name must be a string');
    return this.#outcome(this.#whileRunning([fn], (p, l) => this.#ex.zandle_call(this.#handle, p, l)));
  }

  /** Continues a paused run where it stopped; it ends as run() does, or pauses again. */
  resume() {
    this.#live();
    return this.#outcome(this.#whileRunning([], () => this.#ex.zandle_resume(this.#handle)));
  }

  /** Drops a paused run; variables and recorded functions stay. Nothing paused: nothing done. */
  discard() {
    this.#live();
    this.#check(this.#ex.zandle_discard(this.#handle));
    this.#moves++;
    this.#endOfText();
  }

  /** Whether a run is paused (run() and call() are busy until it is resumed to its end or
   * discarded). */
  get paused() {
    this.#live();
    return this.#ex.zandle_paused(this.#handle) !== 0;
  }

  /** From the next run or resume on, pauses after this many instructions (0: never). */
  setSlice(instructions) {
    this.#live();
    if (instructions === undefined || instructions === null) throw invalid('the slice must be a whole number');
    this.#check(this.#ex.zandle_set_slice(this.#handle, checkedCap(instructions, WORD_MAX, 'the slice')));
  }

  /** From the next run or resume on, pauses once this many milliseconds have passed since it
   * began (0: never); fractions count, to the nanosecond. A sleeping script wakes early. */
  setDeadline(milliseconds) {
    this.#live();
    let ns;
    if (typeof milliseconds === 'bigint') {
      ns = milliseconds * 1000000n;
    } else if (typeof milliseconds === 'number' && Number.isFinite(milliseconds)) {
      ns = milliseconds > Number(WORD_MAX) / 1e6 ? WORD_MAX + 1n : BigInt(Math.round(milliseconds * 1e6));
    } else {
      throw invalid('the deadline must be a number of milliseconds');
    }
    if (ns < 0n || ns > WORD_MAX) throw invalid('the deadline is out of range');
    this.#check(this.#ex.zandle_set_deadline(this.#handle, ns));
  }

  /** Pauses the run at its next instruction boundary. JavaScript runs one thing at a time on a
   * thread, so a run is in progress only while this is called from one of its callbacks (a
   * host escape, output, input, sleep): the run pauses soon after that callback returns, and
   * a sleep ends early. Called at any other time, the next run or resume pauses before its
   * first instruction. */
  interrupt() {
    this.#live();
    this.#ex.zandle_interrupt(this.#handle);
  }

  /** Called by a host escape of this machine while it runs: the escape's results stand, and
   * the run pauses just after its Escape (the run() or resume() that ran it returns "paused"),
   * so that the host can do asynchronous work, set variables and resume. */
  pause() {
    if (!this.#escapeRunning) throw invalid('pause() is for a host escape of this machine, while it runs');
    this.#pauseAsked = true;
  }

  /** The machine (idle or paused) as bytes: its variables with their types, recorded functions,
   * withheld escapes, and a paused run with its calls and counts. A copy, the host's to keep. */
  snapshot() {
    this.#live();
    const s = this.#scratch;
    this.#check(this.#ex.zandle_snapshot(this.#handle, s, s + 4));
    const at = this.#u32(s);
    return this.#u8().slice(at, at + this.#u32(s + 4));
  }

  /** Replaces the machine's variables, functions and run with a snapshot of a machine of the
   * same kind; a paused run can then be resumed. The host escapes this machine has stay
   * registered (a name the snapshot withholds stays withheld). Bytes that are no such
   * snapshot throw invalid_snapshot and change nothing. */
  restore(bytes) {
    this.#live();
    if (bytes instanceof ArrayBuffer) bytes = new Uint8Array(bytes);
    if (!(bytes instanceof Uint8Array)) throw invalid('a snapshot must be a Uint8Array');
    this.#check(this.#withBytes([bytes], (p, l) => this.#ex.zandle_restore(this.#handle, p, l)));
    this.#moves++;
    // Output the replaced run had begun is no part of the restored one.
    this.#decoder = new TextDecoder('utf-8', { fatal: false });
    // The C interface leaves host escapes to the host to register again: the functions are
    // this object's, so they are.
    for (const [id, { name }] of this.#escapes) {
      this.#check(this.#withBytes([name], (p, l) => this.#ex.zandle_web_register(this.#handle, p, l, id, 0)));
    }
  }

  /** Publishes arguments as VMARGC and VMARG0, VMARG1, ... */
  setArguments(list) {
    this.#live();
    // They reach the machine as C strings, so they cannot hold a zero byte.
    if (!Array.isArray(list) || list.some((a) => typeof a !== 'string' || a.includes('\0'))) {
      throw invalid('the arguments must be strings without zero bytes');
    }
    const texts = list.map((a) => encoder.encode(`${a}\0`));
    const size = texts.reduce((n, t) => n + t.length, 0) + 4 * list.length;
    const block = this.#alloc(size);
    try {
      let at = block + 4 * list.length;
      texts.forEach((t, i) => {
        this.#view().setUint32(block + 4 * i, at, true);
        this.#u8().set(t, at);
        at += t.length;
      });
      this.#check(this.#ex.zandle_set_arguments(this.#handle, list.length, block));
    } finally {
      this.#ex.zandle_web_release(block);
    }
  }

  /** A variable's value as text (any value of either machine). */
  getText(name) {
    this.#live();
    const s = this.#scratch;
    this.#check(this.#withBytes([this.#name(name)], (p, l) => this.#ex.zandle_get_text(this.#handle, p, l, s, s + 4)));
    return this.#string(this.#u32(s), this.#u32(s + 4));
  }

  /** Stores text (a str on zndvm). */
  setText(name, text) {
    this.#live();
    const t = bytesOf(text, 'the text');
    this.#check(this.#withBytes([this.#name(name), t], (np, tp, nl, tl) =>
      this.#ex.zandle_set_text(this.#handle, np, nl, tp, tl)));
  }

  /** zndvm: the type of a variable's value, "word", "sword", "float" or "str". */
  type(name) {
    this.#live();
    const s = this.#scratch;
    this.#check(this.#withBytes([this.#name(name)], (p, l) => this.#ex.zandle_get_type(this.#handle, p, l, s)));
    return TYPE[this.#u32(s)];
  }

  /** A variable's value: on zndvm a word or sword as a BigInt, a float as a number, a str as a
   * string; on vm always a string. */
  get(name) {
    if (this.#kind === 'vm') return this.getText(name);
    const type = this.type(name);
    const s = this.#scratch;
    const getter = { word: 'zandle_get_word', sword: 'zandle_get_sword', float: 'zandle_get_float' }[type];
    if (getter === undefined) return this.getText(name);
    this.#check(this.#withBytes([this.#name(name)], (p, l) => this.#ex[getter](this.#handle, p, l, s)));
    const view = this.#view();
    if (type === 'word') return view.getBigUint64(s, true);
    if (type === 'sword') return view.getBigInt64(s, true);
    return view.getFloat64(s, true);
  }

  /** Stores a value by its JavaScript type: a string as text, a BigInt as a word (a sword when
   * negative), a number as a float. On vm every value is stored as its text. */
  set(name, value) {
    if (typeof value === 'string' || value instanceof Uint8Array) return this.setText(name, value);
    if (this.#kind === 'vm') {
      if (typeof value !== 'number' && typeof value !== 'bigint') throw invalid('a value must be a string, number or BigInt');
      return this.setText(name, String(value));
    }
    if (typeof value === 'bigint') return value < 0n ? this.setSword(name, value) : this.setWord(name, value);
    if (typeof value === 'number') return this.setFloat(name, value);
    throw invalid('a value must be a string, number or BigInt');
  }

  /** zndvm: stores an unsigned 64-bit word. */
  setWord(name, value) {
    this.#setNumber('zandle_set_word', name, this.#integer(value, 0n, WORD_MAX));
  }

  /** zndvm: stores a signed 64-bit word. */
  setSword(name, value) {
    this.#setNumber('zandle_set_sword', name, this.#integer(value, SWORD_MIN, -SWORD_MIN - 1n));
  }

  /** zndvm: stores a float (a double). */
  setFloat(name, value) {
    if (typeof value !== 'number') throw invalid('a float must be a number');
    this.#setNumber('zandle_set_float', name, value);
  }

  /** Adds a host escape (or takes the place of a built-in one of that name); null removes it. */
  registerEscape(name, fn) {
    this.#live();
    if (fn !== null && typeof fn !== 'function') throw invalid('an escape must be a function or null');
    const n = this.#name(name);
    let id = this.#escapeIds.get(name);
    if (fn === null) {
      this.#check(this.#withBytes([n], (p, l) => this.#ex.zandle_web_register(this.#handle, p, l, 0, 1)));
      if (id !== undefined) this.#escapes.delete(id);
      return;
    }
    if (id === undefined) id = this.#nextId++;
    this.#check(this.#withBytes([n], (p, l) => this.#ex.zandle_web_register(this.#handle, p, l, id, 0)));
    this.#escapeIds.set(name, id);
    this.#escapes.set(id, { name, fn });
  }

  /** Allows or withholds one escape by name, whatever the preset said. */
  allowEscape(name, allowed) {
    this.#live();
    this.#check(this.#withBytes([this.#name(name)], (p, l) =>
      this.#ex.zandle_allow_escape(this.#handle, p, l, allowed ? 1 : 0)));
  }

  /** Bytes the machine holds now, and at most so far. */
  get memoryUsed() {
    this.#live();
    return this.#ex.zandle_memory_used(this.#handle) >>> 0;
  }

  get memoryPeak() {
    this.#live();
    return this.#ex.zandle_memory_peak(this.#handle) >>> 0;
  }

  /** Frees the machine; it may not be used afterwards. Freeing twice does nothing; freeing it
   * from inside one of its escapes is refused (busy), as in C. */
  free() {
    if (this.#running) throw new ZandleError('busy', 'the machine is running');
    if (this.#ex !== undefined && this.#handle !== 0) this.#ex.zandle_free(this.#handle);
    this.#moves++;
    this.#handle = 0;
    this.#ex = undefined;
    this.#memory = undefined;
    this.#escapes.clear();
  }

  // --- the module's side of the calls -------------------------------------------------

  #live() {
    if (this.#ex === undefined || this.#handle === 0) throw invalid('the machine was freed');
  }

  #check(status) {
    if (status !== OK) throw new ZandleError(statusName(status));
  }

  #name(name) {
    if (typeof name !== 'string') throw invalid('a name must be a string');
    return name;
  }

  #integer(value, min, max) {
    let n;
    if (typeof value === 'bigint') n = value;
    else if (typeof value === 'number' && Number.isSafeInteger(value)) n = BigInt(value);
    else throw invalid('a word must be a BigInt or a safe integer');
    if (n < min || n > max) throw invalid('the number is out of range');
    return n;
  }

  #setNumber(setter, name, value) {
    this.#live();
    this.#check(this.#withBytes([this.#name(name)], (p, l) => this.#ex[setter](this.#handle, p, l, value)));
  }

  #u8() {
    return new Uint8Array(this.#memory.buffer);
  }

  #view() {
    return new DataView(this.#memory.buffer);
  }

  #u32(at) {
    return this.#view().getUint32(at, true);
  }

  #string(at, length) {
    return utf8.decode(this.#u8().subarray(at, at + length));
  }

  #cString(at) {
    const bytes = this.#u8();
    let end = at;
    while (bytes[end] !== 0) end++;
    return this.#string(at, end - at);
  }

  #alloc(size) {
    const p = this.#ex.zandle_web_alloc(size) >>> 0;
    if (p === 0) throw new ZandleError('out_of_memory', 'no memory for the call');
    return p;
  }

  // Copies the texts into the module's memory (each followed by a zero byte, for the calls that
  // want one) and calls fn(pointer..., length...); frees them afterwards.
  #withBytes(texts, fn) {
    const encoded = texts.map((t) => bytesOf(t, 'a text'));
    const pointers = [];
    try {
      for (const bytes of encoded) {
        const p = this.#alloc(bytes.length + 1);
        const memory = this.#u8();
        memory.set(bytes, p);
        memory[p + bytes.length] = 0;
        pointers.push(p);
      }
      return fn(...pointers, ...encoded.map((b) => b.length));
    } finally {
      for (const p of pointers) this.#ex.zandle_web_release(p);
    }
  }

  // The machine refuses a run from inside its own escape (busy): the flag is only kept so that
  // free() can refuse the same way.
  // A trap in the module (a fault of the library, never of a script) leaves the machine in no
  // state to go on: it is dropped, and the trap passes to the host.
  #whileRunning(texts, fn) {
    if (this.#running) return this.#withBytes(texts, fn);
    this.#running = true;
    this.#moves++;
    try {
      return this.#withBytes(texts, fn);
    } catch (e) {
      if (e instanceof WebAssembly.RuntimeError) {
        this.#running = false;
        this.#handle = 0;
        this.#ex = undefined;
      }
      throw e;
    } finally {
      this.#running = false;
    }
  }

  // A zandle_place at `at`; `text(at, length)` reads its strings.
  #place(at, text = (p, l) => this.#string(p, l)) {
    const view = this.#view();
    const line = view.getUint32(at + 8, true);
    if (line === 0) return null;
    return {
      source: text(view.getUint32(at, true), view.getUint32(at + 4, true)),
      line,
      text: text(view.getUint32(at + 12, true), view.getUint32(at + 16, true)),
    };
  }

  // The run's output is complete: a character it left unfinished is given as it stands.
  #endOfText() {
    const rest = this.#decoder.decode();
    if (rest !== '') this.#emit(rest, new Uint8Array(0));
  }

  // How a run, call or resume ended or paused, as the C interface reports it; a status about
  // the call itself (busy, out of memory) is thrown.
  #outcome(status) {
    const thrown = this.#thrown;
    const outputFailure = this.#outputFailure;
    this.#thrown = undefined;
    this.#outputFailure = undefined;
    // A paused run keeps a character its output split: the rest may come on resuming.
    if (status !== PAUSED) this.#endOfText();
    if (status !== OK && status !== FAILED && status !== HALTED && status !== PAUSED) {
      throw new ZandleError(statusName(status));
    }
    const ex = this.#ex;
    const h = this.#handle;
    const s = this.#scratch;
    const result = {
      status: STATUS[status],
      error: status === FAILED ? this.#cString(ex.zandle_error_name(h) >>> 0) : '',
      halt: HALT[ex.zandle_halt_reason(h)] ?? `halt_${ex.zandle_halt_reason(h)}`,
      exitStatus: ex.zandle_exit_status(h),
      place: ex.zandle_where(h, s) === OK ? this.#place(s) : null,
      calls: [],
    };
    if (status === PAUSED) {
      // A run in slices pauses again and again, and listing a deep recursion's calls at each
      // pause would cost more than the slices: they are read when asked for, which must be
      // while the run is still paused there (as a debugger's frames are).
      const at = this.#moves;
      let calls;
      Object.defineProperty(result, 'calls', {
        enumerable: true,
        configurable: true,
        get: () => {
          if (calls === undefined) {
            if (this.#moves !== at) {
              throw invalid('the calls of a paused run are read before it resumes (or is discarded, restored, freed)');
            }
            calls = this.#activeCalls();
          }
          return calls;
        },
      });
    } else {
      result.calls = this.#activeCalls();
    }
    if (thrown !== undefined) result.cause = thrown;
    else if (outputFailure !== undefined) result.cause = outputFailure;
    return result;
  }

  // The functions running where the last run stopped, innermost first.
  #activeCalls() {
    const ex = this.#ex;
    const h = this.#handle;
    const s = this.#scratch;
    const calls = [];
    // Deep recursion gives many calls of few functions from few lines: each string is read once.
    const seen = new Map();
    const text = (at, length) => {
      const key = at * 4294967296 + length;
      let t = seen.get(key);
      if (t === undefined) {
        t = this.#string(at, length);
        seen.set(key, t);
      }
      return t;
    };
    const count = ex.zandle_active_call_count(h) >>> 0;
    for (let i = 0; i < count; i++) {
      if (ex.zandle_active_call(h, i, s, s + 4, s + 8) !== OK) break;
      const view = this.#view();
      calls.push({ function: text(view.getUint32(s, true), view.getUint32(s + 4, true)), ...this.#place(s + 8, text) });
    }
    return calls;
  }

  #emit(text, bytes) {
    this.#output(text, bytes);
  }

  // A host escape: its arguments as text, its result stored by the machine's convention.
  #runEscape(id) {
    const entry = this.#escapes.get(id);
    if (entry === undefined) return 1;
    this.#escapeRunning = true;
    this.#pauseAsked = false;
    try {
      const result = entry.fn(this.#escapeArgs(), this);
      if (result !== null && typeof result === 'object' && typeof result.then === 'function') {
        throw new TypeError(`escape ${entry.name} returned a promise: escapes run synchronously ` +
          '(call machine.pause() and resume() once it settles)');
      }
      this.#storeResult(entry.name, result);
      return this.#pauseAsked ? this.#ex.zandle_escape_pause(this.#handle) : 0;
    } catch (e) {
      if (e instanceof EscapeFailure) {
        try {
          return this.#withBytes([e.errorName], (p, l) => this.#ex.zandle_escape_fail(this.#handle, p, l));
        } catch {
          return 1;
        }
      }
      this.#thrown = e;
      return 1;
    } finally {
      this.#escapeRunning = false;
      this.#pauseAsked = false;
    }
  }

  #escapeArgs() {
    const s = this.#scratch;
    const read = (i) => {
      const status = this.#ex.zandle_escape_arg(this.#handle, i, s, s + 4);
      if (status === NOT_FOUND) return undefined;
      this.#check(status);
      return this.#string(this.#u32(s), this.#u32(s + 4));
    };
    if (this.#kind === 'vm') {
      const args = [read(1), read(2)];
      while (args.length > 0 && args[args.length - 1] === undefined) args.pop();
      return args;
    }
    const args = [];
    for (let i = 0; i < ESCAPE_ARGS_MAX; i++) {
      const a = read(i);
      if (a === undefined) break;
      args.push(a);
    }
    return args;
  }

  #storeResult(name, result) {
    if (result === undefined) return;
    if (this.#kind === 'vm') {
      // vm's escapes store their results under names of their own.
      if (result === null || typeof result !== 'object' || Array.isArray(result)) {
        throw new TypeError(`escape ${name}: a vm escape returns an object of variables to set`);
      }
      for (const [variable, value] of Object.entries(result)) this.set(variable, value);
      return;
    }
    const values = Array.isArray(result) ? result : [result];
    values.forEach((value, i) => {
      if (value === undefined || value === null) return;
      if (typeof value === 'string' || value instanceof Uint8Array) {
        this.#check(this.#withBytes([value], (p, l) => this.#ex.zandle_escape_result(this.#handle, i, p, l)));
      } else if (typeof value === 'number' || typeof value === 'bigint') {
        this.set(`__Escape_${name}_RET${i}`, value);
      } else {
        throw new TypeError(`escape ${name}: a result must be a string, number or BigInt`);
      }
    });
  }

  #imports() {
    const memory = () => this.#u8();
    return {
      zandle: {
        write: (user, at, size) => {
          try {
            const bytes = memory().slice(at, at + size);
            this.#emit(this.#decoder.decode(bytes, { stream: true }), bytes);
            return 0;
          } catch (e) {
            this.#outputFailure = e;
            return 1;
          }
        },
        read: (user, at, capacity) => {
          try {
            while (this.#pending.length === 0) {
              const more = this.#pull();
              if (more === null || more === undefined) return 0;
              this.#pending = bytesOf(more, 'input');
              if (this.#pending.length === 0) return 0;
            }
            const n = Math.min(capacity, this.#pending.length);
            memory().set(this.#pending.subarray(0, n), at);
            this.#pending = this.#pending.subarray(n);
            return n;
          } catch {
            return -1;
          }
        },
        escape: (machine, id) => this.#runEscape(id),
        sleep: (ms) => {
          try {
            this.#sleep(ms);
          } catch {
            // a host's sleep that fails ends the sleep early, as a signal does
          }
        },
      },
      env: {
        getentropy: (at, size) => {
          crypto.getRandomValues(memory().subarray(at, at + size));
          return 0;
        },
        emscripten_notify_memory_growth: () => {},
        __syscall_poll: () => -52, // ENOSYS: there is no terminal to ask
        // Looking for a terminal (std.term.cursor.get) finds none: there are no files here.
        __syscall_fstat64: () => -52,
        __syscall_stat64: () => -52,
        __syscall_fstatat64: () => -52,
        __syscall_lstat64: () => -52,
        __syscall_readlink: () => -52,
        __call_sighandler: () => {},
      },
      // What the C library asks of the system: clocks and an empty environment. Nothing here
      // reads or writes the process's standard streams; machines print through `write`.
      wasi_snapshot_preview1: {
        clock_time_get: (id, precision, at) => {
          const ns = id === 0 ? BigInt(Date.now()) * 1000000n : BigInt(Math.round(performance.now() * 1e6));
          this.#view().setBigUint64(at, ns, true);
          return 0;
        },
        environ_sizes_get: (count, size) => {
          this.#view().setUint32(count, 0, true);
          this.#view().setUint32(size, 0, true);
          return 0;
        },
        environ_get: () => 0,
        fd_read: () => 8, // EBADF
        fd_write: () => 8,
        fd_fdstat_get: () => 8,
        fd_close: () => 8,
      },
    };
  }
}

const constructing = Symbol('constructing');

export default Zandle;
