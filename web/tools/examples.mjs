// The playground's examples, taken from where they live in the repository: the two tours of
// examples/, the example blocks of vm's documentation and of zndvm's handbook, the built-in
// dance program, and the playground's own two that show its caps at work. Taking them from there keeps the playground's copies from drifting; a text
// that no longer has the expected shape stops the build with a message rather than dropping
// an example silently.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';

const KEYWORD = /^(New|Func|End|If|Call|Return|Escape)(\s|$)/;

// A block is code when it starts with an instruction or a comment ('#', and zndvm's '/'); the
// lines after that are taken as they are, a mistake the text shows on purpose included.
function isCode(lines) {
  const first = lines[0].trim();
  return KEYWORD.test(first) || /^[#/]/.test(first);
}

function dedent(lines) {
  const indents = lines.filter((l) => l.trim() !== '').map((l) => l.match(/^[ \t]*/)[0].length);
  const cut = Math.min(...indents);
  return `${lines.map((l) => l.slice(cut)).join('\n')}\n`;
}

// The runs of lines indented deeper than `indent` characters, split at blank lines.
function blocks(lines, indent) {
  const found = [];
  let current = [];
  for (const line of lines) {
    const deep = line.trim() !== '' && line.match(/^[ \t]*/)[0].length > indent;
    if (deep) {
      current.push(line);
    } else {
      if (current.length > 0) found.push(current);
      current = [];
    }
  }
  if (current.length > 0) found.push(current);
  return found;
}

// zndvm's handbook: section "N. Title" runs to the next numbered heading; its code blocks are
// indented by at least four spaces.
function handbookSection(text, number) {
  const lines = text.split('\n');
  const start = lines.findIndex((l) => l.startsWith(`${number}. `));
  if (start < 0) throw new Error(`the handbook has no section ${number}`);
  let end = lines.findIndex((l, i) => i > start && /^\d+\. /.test(l));
  if (end < 0) end = lines.length;
  const title = lines[start].slice(`${number}. `.length).trim();
  const code = blocks(lines.slice(start + 1, end), 3).filter(isCode);
  if (code.length === 0) throw new Error(`section ${number} of the handbook has no example`);
  return { title, text: code.map(dedent).join('\n') };
}

// vm's documentation: under "Examples", each "<tab>Title:" followed by lines two tabs deep.
function docsExamples(text) {
  const lines = text.split('\n');
  const start = lines.indexOf('Examples');
  if (start < 0) throw new Error('the vm documentation has no Examples section');
  const found = [];
  for (let i = start + 1; i < lines.length; i++) {
    const heading = lines[i].match(/^\t([^\t].*):$/);
    if (!heading) continue;
    const body = [];
    while (i + 1 < lines.length && lines[i + 1].startsWith('\t\t')) body.push(lines[++i]);
    if (body.length > 0 && isCode(body)) found.push({ title: heading[1], text: dedent(body) });
  }
  if (found.length === 0) throw new Error('the vm documentation has no examples');
  return found;
}

function slug(s) {
  return s.toLowerCase().replace(/[^a-z0-9]+/g, '-').replace(/^-|-$/g, '');
}

/** Every example, in the order the playground lists them. */
export function collectExamples(root) {
  const read = (path) => readFileSync(join(root, path), 'utf8');
  const examples = [];
  examples.push({ id: 'zndvm-tour', kind: 'zndvm', title: 'zndvm: a tour', text: read('examples/zndvm/tour.znd') });
  const handbook = read('src/zndvm/texts/handbook.txt');
  for (const n of [4, 5, 7, 11]) {
    const { title, text } = handbookSection(handbook, n);
    examples.push({ id: `zndvm-handbook-${n}`, kind: 'zndvm', title: `zndvm handbook ${n}: ${title}`, text });
  }
  examples.push({
    id: 'zndvm-dance', kind: 'zndvm', title: 'zndvm: dance (until stopped)',
    text: read('src/zndvm/texts/dance.znd'), endless: true,
  });
  examples.push({
    id: 'caps-endless', kind: 'zndvm', title: 'Caps: an endless loop',
    text: read('web/playground/examples/endless.znd'), endsByCap: true,
  });
  examples.push({
    id: 'caps-runaway', kind: 'zndvm', title: 'Caps: a runaway string',
    text: read('web/playground/examples/runaway.znd'), endsByCap: true,
  });
  examples.push({ id: 'vm-tour', kind: 'vm', title: 'vm: a tour', text: read('examples/vm/tour.znd') });
  for (const { title, text } of docsExamples(read('src/vm/texts/docs.txt'))) {
    examples.push({ id: `vm-docs-${slug(title)}`, kind: 'vm', title: `vm documentation: ${title}`, text });
  }
  return examples;
}
