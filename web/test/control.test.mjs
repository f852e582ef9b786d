// Keeping control from JavaScript: runs in slices, resume and discard, pauses asked by host
// escapes and by interrupts, deadlines, snapshots carried to other machines, and the pure
// preset.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { ZandleError, machine, print } from './support.mjs';

function rejects(status) {
  return (e) => e instanceof ZandleError && e.status === status;
}

// Resumes a run until it ends; the result, with the number of pauses on the way.
function finish(m, result) {
  let pauses = 0;
  while (result.status === 'paused') {
    pauses++;
    result = m.resume();
  }
  return { ...result, pauses };
}

// A script per kind that calls functions, loops, prints (a character split between two
// prints) and leaves variables behind.
const SCRIPTS = {
  zndvm: "New i '0'\nNew s 'x'\nFunc step\nNew i \"i + 1\"\nNew s \"s s++ i\"\nIf step \"i < 9\"\nEnd\n" +
    `Func twice\nCall step\nCall step\nEnd\nCall twice\n${print('s')}` +
    "New __Escape_std.io.printLn_ARG0 <left>\nEscape std.io.printLn\n" + print('right') +
    "New f \"i * 0.5\"\n",
  vm: "New i '0'\nNew s 'x'\nFunc step\nNew i \"i + 1\"\nNew s \"s s++ i\"\nIf step \"i < 9\"\nEnd\n" +
    "Func twice\nCall step\nCall step\nEnd\nCall twice\nNew ARG1 's'\nEscape Print\nNew ARG1 'left'\n" +
    "Escape PrintLn\nNew ARG1 'right'\nEscape Print\n",
};
const PRINTED = 'x12345678910\naé\n';
const ENDLESS = "New n '0'\nFunc spin\nNew n \"n + 1\"\nCall spin\nEnd\nCall spin\n";

async function prepared(kind, options = {}) {
  const m = await machine({ kind, ...options });
  // "é" in two halves, printed one after the other.
  m.setText('left', new Uint8Array([0x61, 0xc3]));
  m.setText('right', new Uint8Array([0xa9]));
  return m;
}

describe('slices', () => {
  for (const kind of ['zndvm', 'vm']) {
    test(`${kind}: any slice prints, leaves and halts exactly as the whole run`, async () => {
      const whole = await prepared(kind);
      const expected = whole.run(SCRIPTS[kind], 's.znd');
      assert.equal(expected.status, 'ok');
      assert.equal(whole.printed(), PRINTED);
      const capped = await machine({ kind, instructionCap: 2000 });
      const halted = capped.run(ENDLESS, 'e.znd');
      assert.equal(halted.halt, kind === 'vm' ? 'call' : 'instruction_cap');

      for (const slice of [1, 2, 3, 7, 50, 1n << 40n]) {
        const m = await prepared(kind);
        m.setSlice(slice);
        const r = finish(m, m.run(SCRIPTS[kind], 's.znd'));
        assert.deepEqual({ ...r, pauses: undefined }, { ...expected, pauses: undefined }, `slice ${slice}`);
        assert.equal(m.printed(), whole.printed(), `slice ${slice}`);
        assert.equal(m.getText('s'), whole.getText('s'));
        assert.equal(m.getText('i'), whole.getText('i'));
        if (slice === 1) assert.ok(r.pauses > 30, String(r.pauses));
        if (typeof slice === 'bigint') assert.equal(r.pauses, 0);

        // The cap (and vm's budgets) count across pauses as in one run.
        const c = await machine({ kind, instructionCap: 2000 });
        c.setSlice(slice);
        assert.deepEqual({ ...finish(c, c.run(ENDLESS, 'e.znd')), pauses: undefined }, { ...halted, pauses: undefined });
        assert.equal(c.getText('n'), capped.getText('n'));
      }
    });
  }

  test('while paused: where the run stands, variables read and set, run and call busy; discard', async () => {
    const m = await machine();
    m.run("Func show\nEnd\n");
    m.setSlice(4);
    const text = `Func inner\nNew a '1'\nNew b '2'\n${print('from_host')}End\nFunc outer\nCall inner\nEnd\nCall outer\n`;
    let r = m.run(text, 'p.znd');
    while (r.status === 'paused' && r.calls.length < 2) r = m.resume();
    assert.equal(r.status, 'paused');
    assert.equal(m.paused, true);
    assert.deepEqual(r.calls.map((c) => [c.function, c.line]), [['inner', 8], ['outer', 10]]);
    assert.equal(r.place.source, 'p.znd');
    assert.throws(() => m.run("New x '1'\n"), rejects('busy'));
    assert.throws(() => m.call('show'), rejects('busy'));
    m.setText('from_host', 'set while paused');
    m.setSlice(0);
    assert.equal(m.resume().status, 'ok');
    // The calls of a pause are read while the run stands there; once read, they stay.
    assert.equal(r.calls.length, 2);
    assert.equal(m.printed(), 'set while paused\n');
    assert.equal(m.paused, false);
    assert.throws(() => m.resume(), rejects('invalid_argument'));

    m.setSlice(2);
    const unread = m.run(text);
    assert.equal(unread.status, 'paused');
    m.discard();
    assert.throws(() => unread.calls, rejects('invalid_argument'));
    assert.equal(m.paused, false);
    assert.throws(() => m.resume(), rejects('invalid_argument'));
    m.discard(); // nothing paused: nothing to do
    m.setSlice(0);
    // Variables and recorded functions stay; the run's function being recorded does not.
    assert.equal(m.call('show').status, 'ok');
    assert.equal(m.run("New c '3'\n").status, 'ok');
  });
});

describe('pauses asked by the host', () => {
  test('an escape that calls pause(): its results stand, the run waits for asynchronous work', async () => {
    const pending = [];
    const z = await machine({
      escapes: {
        'app.fetch': ([url], m) => {
          pending.push(new Promise((resolve) => setTimeout(() => resolve(`page of ${url}`), 1)));
          m.pause();
          return 'fetching';
        },
      },
    });
    let r = z.run("New u 'a.org'\nNew __Escape_app.fetch_ARG0 <u>\nEscape app.fetch\n" +
      `${print('__Escape_app.fetch_RET0')}${print('body')}`, 'f.znd');
    assert.equal(r.status, 'paused');
    assert.deepEqual(r.place, { source: 'f.znd', line: 3, text: 'Escape app.fetch' });
    assert.equal(z.printed(), '');
    assert.equal(z.get('__Escape_app.fetch_RET0'), 'fetching');
    z.set('body', await pending[0]);
    r = z.resume();
    assert.equal(r.status, 'ok');
    assert.equal(z.printed(), 'fetching\npage of a.org\n');

    // vm's escapes pause the same way; a failure after pause() fails the run instead.
    const v = await machine({
      kind: 'vm',
      escapes: {
        Ask: (args, m) => { m.pause(); return { answer: '42' }; },
        Broken: (args, m) => { m.pause(); throw new Error('no'); },
      },
    });
    assert.equal(v.run("Escape Ask\nNew ARG1 'answer'\nEscape Print\n").status, 'paused');
    assert.equal(v.printed(), '');
    assert.equal(v.resume().status, 'ok');
    assert.equal(v.printed(), '42\n');
    assert.equal(v.run('Escape Broken\n').error, 'EscapeFailed');
    assert.equal(v.paused, false);
    // Outside an escape there is nothing to pause after.
    assert.throws(() => v.pause(), rejects('invalid_argument'));
  });

  test('interrupt: before a run it pauses before the first line; from a callback, soon after it', async () => {
    const z = await machine();
    z.interrupt();
    let r = z.run(`New a 'first'\n${print('a')}`, 'i.znd');
    assert.equal(r.status, 'paused');
    // It stands at the first line, which has not run.
    assert.deepEqual(r.place, { source: 'i.znd', line: 1, text: "New a 'first'" });
    assert.throws(() => z.get('a'), rejects('not_found'));
    assert.equal(z.resume().status, 'ok');
    assert.equal(z.printed(), 'first\n');

    // An endless loop whose escape interrupts on its tenth call: the run pauses, and can go on.
    let calls = 0;
    const e = await machine({ escapes: { 'app.tick': (args, m) => { if (++calls % 10 === 0) m.interrupt(); } } });
    r = e.run("Func spin\nEscape app.tick\nCall spin\nEnd\nCall spin\n");
    assert.equal(r.status, 'paused');
    assert.equal(calls, 10);
    assert.equal(e.resume().status, 'paused');
    assert.equal(calls, 20);
    e.discard();

    // A sleep of a minute that the host's sleep function interrupts ends early.
    let pieces = 0;
    const s = await machine({ sleep: () => { if (++pieces === 3) s.interrupt(); } });
    r = s.run(`New t '60000'\nNew __Escape_std.misc.sleep_ARG0 <t>\nEscape std.misc.sleep\nNew after 'woke'\n${print('after')}`);
    assert.equal(r.status, 'paused');
    assert.equal(pieces, 3);
    assert.equal(s.resume().status, 'ok');
    assert.equal(s.printed(), 'woke\n');
  });

  test('a deadline pauses an endless loop and a long sleep, each run or resume anew', async () => {
    const z = await machine();
    z.setDeadline(5);
    const started = performance.now();
    const r = z.run(ENDLESS);
    assert.equal(r.status, 'paused');
    const n = z.get('n');
    assert.ok(n > 0n, String(n));
    assert.equal(z.resume().status, 'paused');
    assert.ok(z.get('n') > n);
    z.discard();
    assert.equal(z.run("New t '60000'\nNew __Escape_std.misc.sleep_ARG0 <t>\nEscape std.misc.sleep\n").status, 'paused');
    // Well short of the minute the script asked to sleep.
    assert.ok(performance.now() - started < 30000);
    z.setDeadline(0);
    assert.equal(z.resume().status, 'ok');
  });
});

describe('snapshots', () => {
  for (const kind of ['zndvm', 'vm']) {
    test(`${kind}: from every pause of a run, restored into a new machine, the run ends as it would have`, async () => {
      const whole = await prepared(kind);
      const expected = whole.run(SCRIPTS[kind], 's.znd');
      const m = await prepared(kind);
      m.setSlice(3);
      let r = m.run(SCRIPTS[kind], 's.znd');
      let points = 0;
      while (r.status === 'paused') {
        const bytes = m.snapshot();
        assert.ok(bytes instanceof Uint8Array);
        // The machines' output together, as bytes: each decodes its own half of the "é".
        const printedSoFar = m.printedBytes();
        const copy = await machine({ kind });
        copy.restore(bytes);
        assert.equal(copy.paused, true);
        const end = finish(copy, copy.resume());
        assert.deepEqual({ ...end, pauses: undefined }, { ...expected, pauses: undefined });
        assert.deepEqual(Buffer.concat([printedSoFar, copy.printedBytes()]), whole.printedBytes(), `pause ${points}`);
        assert.equal(copy.getText('s'), whole.getText('s'));
        copy.free();
        points++;
        r = m.resume();
      }
      assert.ok(points > 10, String(points));
    });
  }

  test('an idle machine: typed values, functions, withheld escapes; host escapes stay registered', async () => {
    const z = await machine({ escapes: { 'app.hi': () => 'hi' } });
    z.setWord('w', (1n << 64n) - 1n);
    z.setSword('s', -5n);
    z.setFloat('f', -0.25);
    z.setText('t', new Uint8Array([0, 0xff, 0x41]));
    z.run(`Func greet\nEscape app.hi\n${print('__Escape_app.hi_RET0')}End\n`);
    z.allowEscape('std.str.len', false);
    const bytes = z.snapshot();
    // Running invalidates the C side's view of the bytes; the copy stays.
    const kept = bytes.slice();
    z.run("New later '1'\n");
    assert.deepEqual(bytes, kept);

    const copy = await machine({ escapes: { 'app.hi': () => 'hello again' } });
    copy.setText('gone', 'replaced by the snapshot');
    copy.restore(bytes.buffer);
    assert.deepEqual(['w', 's', 'f', 't'].map((v) => copy.type(v)), ['word', 'sword', 'float', 'str']);
    assert.deepEqual([copy.get('w'), copy.get('s'), copy.get('f')], [(1n << 64n) - 1n, -5n, -0.25]);
    assert.equal(copy.getText('t'), '\0\ufffdA');
    assert.throws(() => copy.get('gone'), rejects('not_found'));
    assert.throws(() => copy.get('later'), rejects('not_found'));
    assert.equal(copy.call('greet').status, 'ok');
    assert.equal(copy.printed(), 'hello again\n');
    assert.equal(copy.run("New x 'a'\nNew __Escape_std.str.len_ARG0 <x>\nEscape std.str.len\n").error, 'UnknownEscape');
    // Restored again, the machine is the one saved, to the byte.
    copy.restore(bytes);
    assert.deepEqual(copy.snapshot(), kept);
  });

  test('bytes that are no snapshot of this kind: invalid_snapshot, and the machine as it was', async () => {
    const z = await prepared('zndvm');
    z.setSlice(5);
    assert.equal(z.run(SCRIPTS.zndvm, 's.znd').status, 'paused');
    const good = z.snapshot();
    const before = z.get('i');
    const vm = await machine({ kind: 'vm' });
    const bad = [new Uint8Array(0), good.subarray(0, good.length - 1), good.subarray(0, 8), new Uint8Array(good.length),
      vm.snapshot(), Uint8Array.from(good, (b, i) => (i === good.length >> 1 ? b ^ 0x10 : b)),
      Uint8Array.from({ length: 4096 }, (_, i) => (i * 7919) & 0xff)];
    for (let at = 0; at < good.length; at += 13) bad.push(Uint8Array.from(good, (b, i) => (i === at ? b ^ 0xff : b)));
    for (const bytes of bad) assert.throws(() => z.restore(bytes), rejects('invalid_snapshot'), `${bytes.length} bytes`);
    assert.throws(() => vm.restore(good), rejects('invalid_snapshot'));
    for (const notBytes of ['text', 5, null, [1, 2]]) assert.throws(() => z.restore(notBytes), rejects('invalid_argument'));
    assert.equal(z.paused, true);
    assert.equal(z.get('i'), before);
    assert.deepEqual(z.snapshot(), good);
    z.setSlice(0);
    assert.equal(z.resume().status, 'ok');
    assert.equal(z.printed(), PRINTED);
  });

  test('inside an escape a machine is neither saved nor restored', async () => {
    const seen = [];
    const z = await machine({
      escapes: {
        'app.save': (args, m) => {
          for (const f of [() => m.snapshot(), () => m.restore(new Uint8Array(8)), () => m.resume(), () => m.discard()]) {
            try {
              f();
              seen.push('ok');
            } catch (e) {
              seen.push(e.status);
            }
          }
        },
      },
    });
    z.run('Escape app.save\n');
    assert.deepEqual(seen, ['busy', 'busy', 'busy', 'busy']);
  });
});

describe('the pure preset', () => {
  test('the same script and input give the same output and the same bytes, paused or ended', async () => {
    const script = "Escape std.io.input\nNew line __Escape_std.io.input_RET0\nNew __Escape_std.str.len_ARG0 <line>\n" +
      "Escape std.str.len\nNew n '0'\nFunc count\nNew n \"n + 1\"\nIf count \"n < 40\"\nEnd\nCall count\n" +
      `New said "line s++ __Escape_std.str.len_RET0"\n${print('said')}`;
    const runs = [];
    for (let i = 0; i < 2; i++) {
      const m = await machine({ preset: 'pure', input: 'same input\n' });
      m.setSlice(25);
      const r = m.run(script, 'pure.znd');
      assert.equal(r.status, 'paused');
      const paused = m.snapshot();
      assert.equal(finish(m, m.resume()).status, 'ok');
      runs.push({ paused, ended: m.snapshot(), printed: m.printed() });
    }
    assert.equal(runs[0].printed, 'same input10\n');
    assert.deepEqual(runs[1], runs[0]);
    // Nothing that depends on the world is there.
    const m = await machine({ preset: 'pure' });
    for (const name of ['std.misc.time', 'std.misc.sleep', 'std.misc.random', 'std.term.screen.clear']) {
      assert.equal(m.run(`Escape ${name}\n`).error, 'UnknownEscape', name);
    }
  });
});
