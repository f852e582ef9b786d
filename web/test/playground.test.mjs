// The playground's parts that need no browser: the terminal view, the highlighting from the
// TextMate grammar, the script in the address, and the examples taken from the repository.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { resolve } from 'node:path';
import { describe, test } from 'node:test';
import { Grammar, classOf } from '../playground/highlight.js';
import { decodeScript, encodeScript } from '../playground/share.js';
import { Terminal } from '../playground/terminal.js';
import { collectExamples } from '../tools/examples.mjs';
import { repo } from './support.mjs';

function screen(...writes) {
  const t = new Terminal();
  for (const w of writes) t.write(w);
  return t;
}

describe('the terminal view', () => {
  test('plain output is kept as written, line ends and all', () => {
    for (const text of ['', 'x', 'a\nb\n', 'a\n\n\nb', 'tab\there\n', 'ünï\n']) {
      assert.equal(screen(text).text(), text.replace('\t', '     '));
    }
    assert.equal(screen('abc\rX\n').text(), 'Xbc\n');
  });

  test("the std.term sequences: clear, moves, colours, also when split between writes", () => {
    // What dance writes for one pose, then the next pose over it.
    const pose = (a, b, c) => `\x1b[2J\x1b[1;1H${a}\n${b}\n${c}\n`;
    const t = screen(pose('1', '22', '333'), pose(' (**)/', '<)  ) ', ' /  \\ ').slice(0, 5),
      pose(' (**)/', '<)  ) ', ' /  \\ ').slice(5));
    assert.equal(t.text(), ' (**)/\n<)  ) \n /  \\ \n');
    assert.equal(screen('\x1b[3;5Hx\x1b[1;1Hy').text(), 'y\n\n    x');
    assert.equal(screen('abc\x1b[2Dx\x1b[1By\x1b[1Az').text(), 'axcz\n  y');
    assert.equal(screen('ab\x1b[5Cc').text(), 'ab     c');
    const coloured = screen('\x1b[31mred\x1b[42mboth\x1b[0m plain\x1b[6n');
    assert.deepEqual(coloured.runs()[0], [{ text: 'red', fg: 1, bg: null }, { text: 'both', fg: 1, bg: 2 },
      { text: ' plain', fg: null, bg: null }]);
    assert.equal(coloured.text(), 'redboth plain');
  });

  test('the oldest lines go past the limit, and the cursor stays on its line', () => {
    const t = new Terminal({ maxLines: 3 });
    t.write('1\n2\n3\n4\n5');
    assert.equal(t.text(), '3\n4\n5');
    t.write('\x1b[1;1HX');
    assert.equal(t.text(), 'X\n4\n5');
  });
});

describe('highlighting', () => {
  const grammar = new Grammar(JSON.parse(readFileSync(resolve(repo, 'editors/textmate/zandle.tmLanguage.json'), 'utf8')));
  // The line as runs of one class (tokens of the same class side by side joined), unclassed ones left out.
  const classes = (line) => {
    const runs = [];
    for (const t of grammar.tokenize([line]).lines[0]) {
      const cls = classOf(t.scopes);
      if (runs.length > 0 && runs[runs.length - 1][1] === cls) runs[runs.length - 1][0] += t.text;
      else runs.push([t.text, cls]);
    }
    return runs.filter(([, c]) => c);
  };

  test('each kind of token gets its class, from the grammar', () => {
    assert.deepEqual(classes('New __Escape_std.io.print_ARG0 <msg>   / print takes a name'), [
      ['New', 'tok-keyword'], ['__Escape_std.io.print_ARG0', 'tok-reserved'], ['<msg>', 'tok-pointer'],
      ['/ print takes a name', 'tok-comment']]);
    assert.deepEqual(classes('New i "i + 1"'), [['New', 'tok-keyword'], ['"i ', 'tok-literal'],
      ['+', 'tok-operator'], [' ', 'tok-literal'], ['1', 'tok-number'], ['"', 'tok-literal']]);
    assert.deepEqual(classes("Escape Print   # vm"), [['Escape', 'tok-keyword'], ['Print', 'tok-escape'],
      ['# vm', 'tok-comment']]);
    assert.deepEqual(classes("New x {expr} 'lit'"), [['New', 'tok-keyword'], ['{expr}', 'tok-forced'],
      ["'lit'", 'tok-true-literal']]);
    // A '#' or '/' inside a bare word is part of the word; a keyword only counts first.
    assert.deepEqual(classes('New path a/b#c New'), [['New', 'tok-keyword']]);
  });

  test('an unterminated quote ends with its line', () => {
    const { lines, state } = grammar.tokenize(["New a 'open", 'New b c']);
    assert.equal(state.length, 0);
    assert.deepEqual(lines[1].map((t) => [t.text, classOf(t.scopes)])[0], ['New', 'tok-keyword']);
  });
});

describe('the script in the address', () => {
  test('a script and its machine come back from the fragment', async () => {
    for (const [kind, text] of [['zndvm', "New a 'ü'\n# ☃ ünïcode\n"], ['vm', ''], ['zndvm', 'x'.repeat(100000)]]) {
      const fragment = await encodeScript(kind, text);
      assert.match(fragment, /^(vm|zndvm):[A-Za-z0-9_-]*$/);
      assert.deepEqual(await decodeScript(`#${fragment}`), { kind, text });
    }
  });

  test('a fragment that holds no script gives none', async () => {
    for (const fragment of ['', '#', '#lua:abc', '#zndvm:!!!', '#zndvm:AAAA']) {
      assert.equal(await decodeScript(fragment), null, fragment);
    }
  });
});

describe('the examples', () => {
  test('the tours, the handbook examples and dance, each as the repository has it', () => {
    const examples = collectExamples(repo);
    const byId = Object.fromEntries(examples.map((e) => [e.id, e]));
    assert.equal(byId['zndvm-tour'].text, readFileSync(resolve(repo, 'examples/zndvm/tour.znd'), 'utf8'));
    assert.equal(byId['vm-tour'].text, readFileSync(resolve(repo, 'examples/vm/tour.znd'), 'utf8'));
    assert.equal(byId['zndvm-dance'].text, readFileSync(resolve(repo, 'src/zndvm/texts/dance.znd'), 'utf8'));
    assert.match(byId['zndvm-handbook-11'].text, /^# A comment\n[\s\S]*\nfoo bar baz quax quux\n$/);
    assert.match(byId['zndvm-handbook-4'].text, /^New a '1' {12}# a holds 1\n[\s\S]*New \{calc\} '3'/);
    assert.deepEqual(examples.filter((e) => e.id.startsWith('vm-docs-')).map((e) => e.title),
      ['vm documentation: Hello world', 'vm documentation: Expressions',
        'vm documentation: A counting loop, made from primitives']);
    assert.equal(new Set(examples.map((e) => e.id)).size, examples.length);
    for (const e of examples) assert.ok(['vm', 'zndvm'].includes(e.kind) && e.text.endsWith('\n'), e.id);
  });
});
