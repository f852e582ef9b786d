// The output pane's terminal: text as a program writes it, with the sequences zndvm's std.term
// escapes write (clearing the screen, moving the cursor, the eight basic colours), kept as
// lines of cells. The screen's top is the first line kept, so a cleared screen starts over
// at the top; lines are not wrapped, and the oldest go once there are more than `maxLines`.

const ESC = '\x1b';

export class Terminal {
  constructor({ maxLines = 5000 } = {}) {
    this.maxLines = maxLines;
    this.reset();
  }

  reset() {
    this.lines = [[]]; // each line an array of cells {ch, fg, bg}
    this.row = 0;
    this.col = 0;
    this.fg = null; // colour numbers 0 to 7, null for the pane's own
    this.bg = null;
    this.partial = ''; // an escape sequence split between two writes
  }

  write(text) {
    let s = this.partial + text;
    this.partial = '';
    let i = 0;
    while (i < s.length) {
      const c = s[i];
      if (c === ESC) {
        const end = this.#sequence(s, i);
        if (end < 0) {
          this.partial = s.slice(i);
          return;
        }
        i = end;
        continue;
      }
      if (c === '\n') {
        this.#moveTo(this.row + 1, 0);
      } else if (c === '\r') {
        this.col = 0;
      } else if (c === '\t') {
        this.col = (Math.floor(this.col / 8) + 1) * 8;
      } else if (c === '\b') {
        this.col = Math.max(0, this.col - 1);
      } else if (c >= ' ' || c.charCodeAt(0) > 127) {
        this.#put(c);
      }
      i++;
    }
  }

  // The sequence that starts at s[i] (an ESC): where it ends, or -1 when it is not complete yet.
  #sequence(s, i) {
    if (i + 1 >= s.length) return -1;
    if (s[i + 1] !== '[') return i + 2; // not one we draw: skipped with the character after ESC
    let j = i + 2;
    while (j < s.length && /[0-9;?]/.test(s[j])) j++;
    if (j >= s.length) return -1;
    this.#csi(s.slice(i + 2, j), s[j]);
    return j + 1;
  }

  #csi(params, final) {
    const numbers = params.replace('?', '').split(';').map((p) => (p === '' ? null : Number(p)));
    const n = (k, fallback) => numbers[k] ?? fallback;
    switch (final) {
      case 'H':
      case 'f':
        this.#moveTo(Math.max(1, n(0, 1)) - 1, Math.max(1, n(1, 1)) - 1);
        break;
      case 'A':
        this.#moveTo(Math.max(0, this.row - Math.max(1, n(0, 1))), this.col);
        break;
      case 'B':
        this.#moveTo(this.row + Math.max(1, n(0, 1)), this.col);
        break;
      case 'C':
        this.col += Math.max(1, n(0, 1));
        break;
      case 'D':
        this.col = Math.max(0, this.col - Math.max(1, n(0, 1)));
        break;
      case 'J':
        this.#erase(n(0, 0));
        break;
      case 'K':
        this.#eraseLine(n(0, 0));
        break;
      case 'm':
        for (const p of numbers.length ? numbers : [0]) this.#style(p ?? 0);
        break;
      default:
        // queries (the cursor position: there is no keyboard to answer) and the rest
        break;
    }
  }

  #style(p) {
    if (p === 0) {
      this.fg = null;
      this.bg = null;
    } else if (p >= 30 && p <= 37) {
      this.fg = p - 30;
    } else if (p === 39) {
      this.fg = null;
    } else if (p >= 40 && p <= 47) {
      this.bg = p - 40;
    } else if (p === 49) {
      this.bg = null;
    }
  }

  #erase(mode) {
    if (mode === 2 || mode === 3) {
      this.lines = [[]];
      return;
    }
    if (mode === 0) {
      this.lines.length = Math.min(this.lines.length, this.row + 1);
      this.#eraseLine(0);
    } else if (mode === 1) {
      for (let r = 0; r < this.row && r < this.lines.length; r++) this.lines[r] = [];
      this.#eraseLine(1);
    }
  }

  #eraseLine(mode) {
    const line = this.lines[this.row];
    if (line === undefined) return;
    if (mode === 0) line.length = Math.min(line.length, this.col);
    else if (mode === 1) for (let c = 0; c <= this.col && c < line.length; c++) line[c] = { ch: ' ', fg: null, bg: null };
    else this.lines[this.row] = [];
  }

  #moveTo(row, col) {
    this.row = row;
    this.col = col;
    while (this.lines.length <= this.row) this.lines.push([]);
    const excess = this.lines.length - this.maxLines;
    if (excess > 0) {
      this.lines.splice(0, excess);
      this.row -= excess;
    }
  }

  #put(ch) {
    this.#moveTo(this.row, this.col);
    const line = this.lines[this.row];
    while (line.length < this.col) line.push({ ch: ' ', fg: null, bg: null });
    line[this.col] = { ch, fg: this.fg, bg: this.bg };
    this.col++;
  }

  /** The screen as plain text: its lines joined by line ends, down to the cursor's line. */
  text() {
    const rows = Math.max(this.lines.length, this.row + 1);
    const out = [];
    for (let r = 0; r < rows; r++) out.push((this.lines[r] ?? []).map((c) => c.ch).join(''));
    return out.join('\n');
  }

  /** Each line as runs of cells of one style: [{text, fg, bg}]. */
  runs() {
    const rows = Math.max(this.lines.length, this.row + 1);
    const out = [];
    for (let r = 0; r < rows; r++) {
      const line = this.lines[r] ?? [];
      const runs = [];
      for (const cell of line) {
        const last = runs[runs.length - 1];
        if (last && last.fg === cell.fg && last.bg === cell.bg) last.text += cell.ch;
        else runs.push({ text: cell.ch, fg: cell.fg, bg: cell.bg });
      }
      out.push(runs);
    }
    return out;
  }
}

const COLOURS = ['black', 'red', 'green', 'yellow', 'blue', 'magenta', 'cyan', 'white'];

/** Draws the terminal into an element (a <pre>), one <div> a line. */
export function renderTerminal(terminal, element) {
  const document = element.ownerDocument;
  const fragment = document.createDocumentFragment();
  for (const runs of terminal.runs()) {
    const line = document.createElement('div');
    line.className = 'term-line';
    for (const run of runs) {
      if (run.fg === null && run.bg === null) {
        line.append(run.text);
      } else {
        const span = document.createElement('span');
        if (run.fg !== null) span.classList.add(`fg-${COLOURS[run.fg]}`);
        if (run.bg !== null) span.classList.add(`bg-${COLOURS[run.bg]}`);
        span.textContent = run.text;
        line.append(span);
      }
    }
    fragment.append(line);
  }
  element.replaceChildren(fragment);
}
