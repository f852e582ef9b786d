// The package as a host uses it: runs and their outcomes, variables, host escapes, caps,
// input and output, and bad input to every call.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { describe, test } from 'node:test';
import { EscapeFailure, Zandle, ZandleError, machine, packageDir, print, repo } from './support.mjs';

function rejects(status) {
  return (e) => e instanceof ZandleError && e.status === status;
}

describe('the READMEs', () => {
  // The embedding examples of each README, run as written, with the package in place of
  // 'zandle'; each is known by the escape it shows, and prints what its README says.
  const PRINTS = { 'app.greet': 'Hello, web!\nok\n', 'app.lookup': 'the sky is blue\nok\n' };
  for (const readme of ['README.md', 'web/README.md']) {
    test(`${readme}: the embedding examples print what they say`, () => {
      const text = readFileSync(resolve(repo, readme), 'utf8');
      const blocks = [...text.matchAll(/```js\n([\s\S]*?)```/g)].map((b) => b[1]).filter((b) => b.includes("from 'zandle'"));
      assert.ok(blocks.length > 0, `${readme} has no example that imports zandle`);
      for (const block of blocks) {
        const escape = Object.keys(PRINTS).find((name) => block.includes(`'${name}'`));
        assert.ok(escape, `an example of ${readme} with no known output:\n${block}`);
        const code = block.replace("from 'zandle'", `from '${pathToFileURL(resolve(packageDir, 'zandle.js'))}'`);
        const out = execFileSync(process.execPath, ['--input-type=module', '-e', code], { encoding: 'utf8' });
        assert.equal(out, PRINTS[escape]);
      }
    });
  }
});

describe('runs', () => {
  test('both machines print, keep variables between runs, and say how they ended', async () => {
    const z = await machine();
    assert.equal(z.kind, 'zndvm');
    assert.match(z.version, /^\d+\.\d+\.\d+$/);
    assert.deepEqual(z.run(`New a "6 * 7"\n${print('a')}`, 'one.znd'),
      { status: 'ok', error: '', halt: 'none', exitStatus: 0, place: null, calls: [] });
    z.run(`New a "a s++ !"\n${print('a')}`);
    assert.equal(z.printed(), '42\n42!\n');
    z.free();

    const v = await machine({ kind: 'vm' });
    const r = v.run("New msg 'héllo'\nNew ARG1 'msg'\nEscape Print\nNew x \"1 / 0\"\n", 'v.znd');
    assert.equal(v.printed(), 'héllo\n');
    assert.equal(r.status, 'failed');
    assert.equal(r.error, 'DivisionByZero');
    assert.deepEqual(r.place, { source: 'v.znd', line: 4, text: 'New x "1 / 0"' });
    assert.equal(r.exitStatus, 1);
    v.free();
  });

  test('a failure inside calls gives the body line and the chain of calls, innermost first', async () => {
    const z = await machine();
    const r = z.run("Func inner\nNew x y\nEnd\nFunc outer\nCall inner\nEnd\nCall outer\n", 'calls.znd');
    assert.equal(r.error, 'UnknownVariable');
    assert.deepEqual(r.place, { source: 'calls.znd', line: 2, text: 'New x y' });
    assert.deepEqual(r.calls, [
      { function: 'inner', source: 'calls.znd', line: 5, text: 'Call inner' },
      { function: 'outer', source: 'calls.znd', line: 7, text: 'Call outer' },
    ]);
    // A failed run leaves nothing behind: the next one starts with no calls.
    assert.deepEqual(z.run('New z \'1\'\n').calls, []);
  });

  test('call runs a recorded function, and an unknown one fails by name', async () => {
    const z = await machine();
    z.run(`New n '0'\nFunc tick\nNew n "n + 1"\n${print('n')}End\n`);
    z.call('tick');
    z.call('tick');
    assert.equal(z.printed(), '1\n2\n');
    assert.equal(z.call('nothing').error, 'UnknownFunction');
  });

  test('arguments are published as VMARGC and VMARG0, ...', async () => {
    const z = await machine({ arguments: ['prog', 'a b'] });
    z.run(`${print('VMARGC')}${print('VMARG1')}`);
    assert.equal(z.printed(), '2\na b\n');
    assert.equal(z.type('VMARGC'), 'word');
  });
});

describe('variables', () => {
  test('zndvm values keep their types both ways, at the edges of their ranges', async () => {
    const z = await machine();
    z.setWord('w', (1n << 64n) - 1n);
    z.setSword('s', -(1n << 63n));
    z.setFloat('f', 0.1);
    z.setText('t', 'ünïcode');
    z.set('b', 5n);
    z.set('n', -5n);
    z.set('x', 2.5);
    assert.deepEqual(['w', 's', 'f', 't', 'b', 'n', 'x'].map((v) => z.type(v)),
      ['word', 'sword', 'float', 'str', 'word', 'sword', 'float']);
    assert.equal(z.get('w'), 18446744073709551615n);
    assert.equal(z.get('s'), -9223372036854775808n);
    assert.equal(z.get('f'), 0.1);
    assert.equal(z.get('t'), 'ünïcode');
    z.run('New sum "b + x"\nNew typed \'-3\'\n');
    assert.equal(z.get('sum'), 7.5);
    assert.equal(z.get('typed'), -3n);
    assert.equal(z.getText('w'), '18446744073709551615');
  });

  test('the statuses of the C interface: not_found, unsupported', async () => {
    const z = await machine();
    assert.throws(() => z.get('missing'), rejects('not_found'));
    assert.throws(() => z.getText('missing'), rejects('not_found'));
    const v = await machine({ kind: 'vm' });
    v.set('a', 12n);
    assert.equal(v.get('a'), '12');
    assert.throws(() => v.type('a'), rejects('unsupported'));
    assert.throws(() => v.setWord('a', 1n), rejects('unsupported'));
  });

  test('two machines share nothing', async () => {
    const a = await machine();
    const b = await machine();
    a.setText('x', 'mine');
    assert.throws(() => b.getText('x'), rejects('not_found'));
  });
});

describe('host escapes', () => {
  test('zndvm: arguments as text, typed results, several results', async () => {
    const seen = [];
    const z = await machine({
      escapes: {
        'app.pair': (args, m) => {
          seen.push(args);
          assert.equal(m, z);
          return [`${args[0]}-${args[1]}`, BigInt(args[1]) * 2n, 0.5, null, -1n];
        },
      },
    });
    const r = z.run("New a 'x'\nNew b '21'\nNew __Escape_app.pair_ARG0 <a>\nNew __Escape_app.pair_ARG1 <b>\nEscape app.pair\n");
    assert.equal(r.status, 'ok');
    assert.deepEqual(seen, [['x', '21']]);
    assert.equal(z.get('__Escape_app.pair_RET0'), 'x-21');
    assert.equal(z.get('__Escape_app.pair_RET1'), 42n);
    assert.equal(z.get('__Escape_app.pair_RET2'), 0.5);
    assert.throws(() => z.get('__Escape_app.pair_RET3'), rejects('not_found'));
    assert.equal(z.get('__Escape_app.pair_RET4'), -1n);
  });

  test('vm: ARG1 and ARG2, results under names of the host', async () => {
    const v = await machine({ kind: 'vm', escapes: { Join: ([a, b]) => ({ joined: `${a}+${b}` }) } });
    v.run("New p 'x'\nNew q 'y'\nNew ARG1 'p'\nNew ARG2 'q'\nEscape Join\nNew ARG1 'joined'\nEscape Print\n");
    assert.equal(v.printed(), 'x+y\n');
  });

  test('failures: a name of its own, a bad name, a throw, a promise', async () => {
    const boom = new Error('boom');
    const z = await machine({
      escapes: {
        'app.full': () => { throw new EscapeFailure('LogFull'); },
        'app.badname': () => { throw new EscapeFailure('not a name'); },
        'app.throws': () => { throw boom; },
        'app.async': async () => 1,
      },
    });
    assert.equal(z.run('Escape app.full\n').error, 'LogFull');
    assert.equal(z.run('Escape app.badname\n').error, 'EscapeFailed');
    const thrown = z.run('Escape app.throws\n', 't.znd');
    assert.equal(thrown.error, 'EscapeFailed');
    assert.equal(thrown.cause, boom);
    assert.deepEqual(thrown.place, { source: 't.znd', line: 1, text: 'Escape app.throws' });
    assert.match(String(z.run('Escape app.async\n').cause), /promise/);
    // The machine goes on working after each of them.
    assert.equal(z.run("New a '1'\n").status, 'ok');
  });

  test('inside an escape the machine reads and sets variables but is not run, called or freed', async () => {
    const statuses = [];
    const z = await machine({
      escapes: {
        'app.nested': (args, m) => {
          for (const f of [() => m.run("New a '1'\n"), () => m.call('f'), () => m.free()]) {
            try {
              f();
              statuses.push('ok');
            } catch (e) {
              statuses.push(e.status);
            }
          }
          m.setText('fromHost', m.getText('fromScript'));
        },
      },
    });
    z.run("New fromScript 'hi'\nEscape app.nested\n");
    assert.deepEqual(statuses, ['busy', 'busy', 'busy']);
    assert.equal(z.get('fromHost'), 'hi');
  });

  test('registering over a built-in, removing it again, and the allowed set', async () => {
    const z = await machine({ preset: 'console' });
    z.registerEscape('std.io.print', ([text]) => { z.setText('captured', text); });
    z.run(`New m 'quiet'\n${print('m')}`);
    assert.equal(z.printed(), '');
    assert.equal(z.get('captured'), 'quiet');
    z.registerEscape('std.io.print', null);
    z.run(print('m'));
    assert.equal(z.printed(), 'quiet\n');
    // The console preset withholds std.str; a host escape is allowed until withheld by name.
    z.registerEscape('app.mine', () => 'x');
    assert.equal(z.run("New a 'x'\nNew __Escape_std.str.len_ARG0 <a>\nEscape std.str.len\n").error, 'UnknownEscape');
    z.allowEscape('std.str.len', true);
    assert.equal(z.run('Escape std.str.len\n').status, 'ok');
    assert.equal(z.run('Escape app.mine\n').status, 'ok');
    z.allowEscape('app.mine', false);
    assert.equal(z.run('Escape app.mine\n').error, 'UnknownEscape');
  });

  test('the web build has no file or process escapes, whatever the preset', async () => {
    for (const [kind, line] of [['zndvm', 'Escape std.fs.dir.get\n'], ['zndvm', 'Escape std.proc.exit\n'],
      ['vm', 'Escape Gcwd\n'], ['vm', 'Escape Exit\n']]) {
      const m = await machine({ kind, preset: 'all' });
      assert.equal(m.run(line).error, 'UnknownEscape', line);
    }
  });
});

describe('caps', () => {
  test('an endless loop ends at the instruction cap, where it was, and the machine goes on', async () => {
    const z = await machine({ instructionCap: 100000n });
    const r = z.run("New i '0'\nFunc spin\nNew i \"i + 1\"\nCall spin\nEnd\nCall spin\n", 'spin.znd');
    assert.equal(r.status, 'halted');
    assert.equal(r.halt, 'instruction_cap');
    assert.equal(r.exitStatus, 1);
    assert.equal(r.calls[r.calls.length - 1].line, 6);
    assert.ok([3, 4].includes(r.place.line));
    assert.ok(z.get('i') > 1000 && z.get('i') < 100000, String(z.get('i')));
    assert.equal(z.run(`New done 'yes'\n${print('done')}`).status, 'ok');
  });

  test('a runaway string ends with OutOfMemory within the memory cap', async () => {
    const cap = 4 << 20;
    const z = await machine({ memoryCap: cap });
    const r = z.run("New s 'Zandle'\nFunc grow\nNew s \"s s++ s\"\nCall grow\nEnd\nCall grow\n");
    assert.equal(r.status, 'failed');
    assert.equal(r.error, 'OutOfMemory');
    assert.ok(z.memoryPeak <= cap && z.memoryPeak > cap / 4, String(z.memoryPeak));
    assert.ok(z.memoryUsed <= z.memoryPeak);
    assert.equal(z.run("New ok '1'\n").status, 'ok');
  });

  test('a cap too small for the machine itself is out_of_memory', async () => {
    await assert.rejects(Zandle.create({ memoryCap: 64 }), rejects('out_of_memory'));
  });

  test("vm's budgets still hold under a larger cap, reported by the halt alone", async () => {
    const v = await machine({ kind: 'vm', instructionCap: 1e9 });
    const r = v.run("New i '0'\nFunc f\nNew i \"i + 1\"\nIf f \"i < 1000\"\nEnd\nCall f\n");
    assert.equal(r.status, 'halted');
    assert.equal(r.halt, 'func');
    assert.equal(v.printed(), '');
  });
});

describe('input, output and sleeping', () => {
  test('input as one text, or piece by piece from a function, to its end', async () => {
    const read = "Escape std.io.input\nNew __Escape_std.io.print_ARG0 '__Escape_std.io.input_RET0'\nEscape std.io.print\n";
    const z = await machine({ input: 'first\nsecond\n' });
    z.run(read + read);
    assert.equal(z.printed(), 'first\nsecond\n');
    assert.equal(z.run(read).error, 'EndOfStream');

    const pieces = ['fi', 'rst\nsec', 'ond', '\n'];
    const f = await machine({ input: () => pieces.shift() ?? null });
    f.run(read + read);
    assert.equal(f.printed(), 'first\nsecond\n');

    const broken = await machine({ input: () => { throw new Error('gone'); } });
    assert.equal(broken.run(read).status, 'failed');
  });

  test('output: text split inside a character is whole, bytes as written, a throw fails the run', async () => {
    const pieces = [];
    const z = await Zandle.create({ output: (text, bytes) => pieces.push([text, bytes.length]) });
    // Two prints whose bytes split "é" between them.
    z.setText('a', new Uint8Array([0x61, 0xc3]));
    z.setText('b', new Uint8Array([0xa9]));
    z.run("New __Escape_std.io.printLn_ARG0 'a'\nEscape std.io.printLn\nNew __Escape_std.io.printLn_ARG0 'b'\nEscape std.io.printLn\n");
    assert.equal(pieces.map((p) => p[0]).join(''), 'aé');
    assert.equal(pieces.reduce((n, p) => n + p[1], 0), 3);

    const disk = new Error('disk full');
    const failing = await Zandle.create({ output: () => { throw disk; } });
    const r = failing.run(`New m 'x'\n${print('m')}`);
    assert.equal(r.error, 'WriteFailed');
    assert.equal(r.cause, disk);
  });

  test('std.misc.sleep waits through the sleep option, piece by piece, until its time has passed', async () => {
    const slept = [];
    const z = await machine({
      sleep: (ms) => {
        slept.push(ms);
        const end = performance.now() + ms;
        while (performance.now() < end) {
          // waiting
        }
      },
    });
    const started = performance.now();
    assert.equal(z.run("New t '250'\nNew __Escape_std.misc.sleep_ARG0 <t>\nEscape std.misc.sleep\n").status, 'ok');
    // The machine asks for no more than is left, and returns only once the time has passed.
    assert.ok(performance.now() - started >= 250);
    const asked = slept.reduce((a, b) => a + b, 0);
    assert.ok(slept.length > 0 && slept.every((ms) => ms > 0) && asked <= 250 + 1e-6, String(asked));
    assert.equal(z.run("New t 'soon'\nEscape std.misc.sleep\n").error, 'InvalidArgument');
  });
});

describe('bad input', () => {
  test('create refuses bad options with invalid_argument', async () => {
    const bad = [null, 5, { kind: 'lua' }, { instructionCap: -1 }, { instructionCap: 1.5 }, { instructionCap: '9' },
      { instructionCap: 1n << 64n }, { memoryCap: 2 ** 32 }, { memoryCap: -1 }, { preset: 7 }, { preset: 'everything' },
      { output: 'stdout' }, { sleep: 1 }, { escapes: { 'app.x': 'not a function' } }, { escapes: 5 },
      { arguments: 'a b' }, { arguments: [1] }, { input: 42 }];
    for (const options of bad) {
      await assert.rejects(Zandle.create(options), rejects('invalid_argument'), JSON.stringify(options, (k, v) =>
        (typeof v === 'bigint' ? `${v}n` : v)));
    }
    assert.throws(() => new Zandle(), TypeError);
  });

  test('every call refuses arguments of the wrong kind, and every call after free', async () => {
    const z = await machine();
    const fn = () => {};
    const calls = [
      () => z.run(5), () => z.run('New a \'1\'\n', 5), () => z.call(5), () => z.getText(5), () => z.setText('a', 5),
      () => z.setText(5, 'a'), () => z.type(null), () => z.get({}), () => z.set('a', {}), () => z.set('a', true),
      () => z.setWord('a', -1n), () => z.setWord('a', 1n << 64n), () => z.setWord('a', 1.5),
      () => z.setSword('a', 1n << 63n), () => z.setFloat('a', '1'), () => z.registerEscape(5, fn),
      () => z.registerEscape('app.a', 5), () => z.registerEscape('', fn), () => z.allowEscape(5, true),
      () => z.allowEscape('', true), () => z.setArguments('a'), () => z.setArguments([1]), () => z.setArguments(['a\0b']),
      () => z.setSlice(), () => z.setSlice(-1), () => z.setSlice(1.5), () => z.setSlice('3'), () => z.setSlice(1n << 64n),
      () => z.setDeadline(NaN), () => z.setDeadline(-1), () => z.setDeadline('5'), () => z.setDeadline(Infinity),
      () => z.setDeadline(2e10 * 1e3), () => z.restore('bytes'), () => z.resume(), () => z.pause(),
    ];
    for (const call of calls) assert.throws(call, rejects('invalid_argument'), call.toString());
    assert.equal(z.run("New a '1'\n").status, 'ok');
    z.free();
    z.free();
    const after = [() => z.run(''), () => z.call('f'), () => z.getText('a'), () => z.setText('a', 'b'),
      () => z.type('a'), () => z.get('a'), () => z.set('a', 1n), () => z.registerEscape('a', fn),
      () => z.allowEscape('a', true), () => z.setArguments([]), () => z.memoryUsed, () => z.version, () => z.resume(),
      () => z.discard(), () => z.paused, () => z.setSlice(1), () => z.setDeadline(1), () => z.interrupt(),
      () => z.snapshot(), () => z.restore(new Uint8Array(8))];
    for (const call of after) assert.throws(call, rejects('invalid_argument'), call.toString());
  });
});
