// Types of the zandle package: both Zandle interpreters (vm and zndvm) in WebAssembly.

/** The C interface's statuses (zandle_status), by name: ZANDLE_OUT_OF_MEMORY is "out_of_memory". */
export type Status =
  | 'ok' | 'failed' | 'halted' | 'out_of_memory' | 'invalid_argument' | 'not_found' | 'wrong_type'
  | 'unsupported' | 'busy' | 'paused' | 'invalid_snapshot';

/** What ended a halted run (zandle_halt): vm's budgets, the instruction cap, the call stack, an exit. */
export type Halt =
  | 'none' | 'instructions' | 'new' | 'escape' | 'func' | 'call' | 'return' | 'instruction_cap'
  | 'call_stack' | 'exit';

/** The type of a zndvm value. */
export type ValueType = 'word' | 'sword' | 'float' | 'str';

export type Kind = 'vm' | 'zndvm';

/** A line of a script: the name it was run under, its 1-based number, and its text. */
export interface Place {
  source: string;
  line: number;
  text: string;
}

/** A function that was running when the run stopped, and where it was called from. */
export interface ActiveCall extends Place {
  function: string;
}

/** How a run, call or resume ended, or that it paused ("paused": resume() continues it). */
export interface RunResult {
  status: 'ok' | 'failed' | 'halted' | 'paused';
  /** The failure's name as the command line prints it after "error: " ("" unless failed). */
  error: string;
  halt: Halt;
  /** What the command-line program would exit with. */
  exitStatus: number;
  /** Where the run failed, halted or paused; null when it finished (or stopped before any line). */
  place: Place | null;
  /** The functions that were running (or, paused, are running), innermost first. Those of a
   * paused run are read from the machine when first asked for, which must be before it
   * resumes, runs, is discarded, restored or freed (else invalid_argument is thrown). */
  calls: ActiveCall[];
  /** What a host escape (or the output function) threw, when that failed the run. */
  cause?: unknown;
}

/** The escapes scripts may use: "sandbox" (nothing that touches files, processes or the
 * terminal's input), "console" (printing and input), "all", or "pure" (printing and input
 * through the host's functions, and strings: no time, randomness or sleep, so that a run and
 * its snapshots depend on the script and the host alone). */
export type Preset = 'sandbox' | 'console' | 'all' | 'pure';

/**
 * A host escape. `args` are its arguments as text: vm's ARG1 and ARG2, zndvm's
 * __Escape_<name>_ARG0, ARG1, ... up to the first one missing. A zndvm escape returns its
 * result (RET0), or an array of them (RET0, RET1, ...): a string is stored as a str, a BigInt as
 * a word (a sword when negative), a number as a float. A vm escape returns an object of the
 * variables to set. Throwing an EscapeFailure fails the run with its name; anything else
 * thrown fails it as EscapeFailed. Calling `machine.pause()` pauses the run after the escape,
 * its results standing.
 */
export type EscapeFunction = (args: string[], machine: Zandle) =>
  string | number | bigint | Uint8Array | Array<string | number | bigint | Uint8Array | null> |
  Record<string, string | number | bigint> | void;

export interface ZandleOptions {
  /** "zndvm" (the default) or "vm". */
  kind?: Kind;
  /** Instructions a run may execute; 0 or absent: no cap (vm keeps its budgets). */
  instructionCap?: number | bigint;
  /** Bytes the machine may hold at once; 0 or absent: no cap. */
  memoryCap?: number;
  /** The escapes scripts may use: "sandbox" (the default), "console", "all" or "pure". */
  preset?: Preset;
  /** Where the machine prints; by default Node.js's standard output (vm: standard error) or the console. */
  output?: (text: string, bytes: Uint8Array) => void;
  /** What std.io.input and Input read: all of it at once, or a function giving the next piece (null at the end). */
  input?: string | Uint8Array | (() => string | Uint8Array | null | undefined);
  /** Host escapes by name. */
  escapes?: Record<string, EscapeFunction>;
  /** Published as VMARGC and VMARG0, VMARG1, ... */
  arguments?: string[];
  /** How std.misc.sleep waits: asked for some milliseconds at a time (a piece of the sleep)
   * until the sleep's time has passed on the clock, or until the host interrupts; by default
   * it blocks the thread it runs on. */
  sleep?: (milliseconds: number) => void;
  /** The WebAssembly module of the kind, its bytes or its URL, where the default place will not do. */
  wasm?: WebAssembly.Module | BufferSource | URL | string;
}

/** A call that did not do its work; `status` says why. */
export class ZandleError extends Error {
  readonly status: Status;
}

/** Thrown by a host escape to fail the run with `errorName` (letters and digits, at most 63). */
export class EscapeFailure extends Error {
  constructor(errorName: string);
  readonly errorName: string;
}

export class Zandle {
  private constructor();
  static create(options?: ZandleOptions): Promise<Zandle>;
  readonly kind: Kind;
  readonly version: string;
  readonly memoryUsed: number;
  readonly memoryPeak: number;
  /** Runs a script text; `name` names it in places. */
  run(text: string | Uint8Array, name?: string): RunResult;
  /** Runs a function an earlier run recorded. */
  call(fn: string): RunResult;
  /** Continues a paused run where it stopped (invalid_argument when none is paused). */
  resume(): RunResult;
  /** Drops a paused run; variables and recorded functions stay. */
  discard(): void;
  /** Whether a run is paused; run() and call() are busy until it ends or is discarded. */
  readonly paused: boolean;
  /** From the next run or resume on, pause after this many instructions (0: never). */
  setSlice(instructions: number | bigint): void;
  /** From the next run or resume on, pause once this many milliseconds have passed since it
   * began (0: never); a sleeping script wakes early. */
  setDeadline(milliseconds: number | bigint): void;
  /** Pause the run at its next instruction boundary: from a callback of a run in progress (an
   * escape, output, input, sleep) soon after that callback returns, a sleep ending early;
   * otherwise the next run or resume pauses before its first instruction. */
  interrupt(): void;
  /** From a host escape of this machine only: the run pauses just after the escape, its
   * results standing (invalid_argument anywhere else). */
  pause(): void;
  /** The idle or paused machine as bytes (a copy): variables with their types, recorded
   * functions, withheld escapes, a paused run. */
  snapshot(): Uint8Array;
  /** Replaces variables, functions and run with a snapshot of a machine of this kind; other
   * bytes throw invalid_snapshot and change nothing. Host escapes stay registered. */
  restore(bytes: Uint8Array | ArrayBuffer): void;
  setArguments(args: string[]): void;
  getText(name: string): string;
  setText(name: string, text: string | Uint8Array): void;
  /** zndvm only. */
  type(name: string): ValueType;
  /** zndvm: words and swords as BigInt, floats as numbers, strs as strings; vm: text. */
  get(name: string): string | number | bigint;
  set(name: string, value: string | Uint8Array | number | bigint): void;
  setWord(name: string, value: bigint | number): void;
  setSword(name: string, value: bigint | number): void;
  setFloat(name: string, value: number): void;
  registerEscape(name: string, fn: EscapeFunction | null): void;
  allowEscape(name: string, allowed: boolean): void;
  free(): void;
}

export default Zandle;
