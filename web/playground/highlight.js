// Highlighting from the project's TextMate grammar (editors/textmate/zandle.tmLanguage.json,
// copied beside the playground): a small tokenizer that applies its rules the way TextMate
// editors do. At each position the rule whose match starts first wins, ties going to an open
// rule's end and then to the rule listed first; a begin/end rule scopes everything up to its
// end, which may be on a later line.

export class Grammar {
  constructor(grammar) {
    this.grammar = grammar;
    this.repository = grammar.repository ?? {};
    this.regexes = new Map();
    this.ruleLists = new Map();
  }

  #regex(source) {
    let r = this.regexes.get(source);
    if (r === undefined) {
      // 'd' gives the captures' places; the grammar's expressions are also valid here.
      r = new RegExp(source, 'dg');
      this.regexes.set(source, r);
    }
    return r;
  }

  // The rules of a pattern list, includes resolved, in order.
  #rules(patterns, seen = new Set()) {
    if (seen.size === 0 && this.ruleLists.has(patterns)) return this.ruleLists.get(patterns);
    const out = [];
    for (const rule of patterns) {
      const include = rule.include;
      if (include === undefined) {
        if (rule.match !== undefined || rule.begin !== undefined) out.push(rule);
        else if (rule.patterns) out.push(...this.#rules(rule.patterns, seen));
        continue;
      }
      if (seen.has(include)) continue;
      const target = include === '$self' ? this.grammar : this.repository[include.slice(1)];
      if (target === undefined) continue;
      if (target.match !== undefined || target.begin !== undefined) out.push(target);
      else out.push(...this.#rules(target.patterns ?? [], new Set([...seen, include])));
    }
    if (seen.size === 0) this.ruleLists.set(patterns, out);
    return out;
  }

  #search(source, line, pos) {
    const r = this.#regex(source);
    r.lastIndex = pos;
    return r.exec(line);
  }

  /**
   * Tokenizes lines; returns for each line a list of tokens {text, scopes}. `state` (the rules
   * open at the end of the previous line) may be passed in and is returned as `state`.
   */
  tokenize(lines, state = []) {
    const stack = [...state];
    const result = [];
    for (const line of lines) {
      const scopes = Array.from(line, () => stack.filter((r) => r.name).map((r) => r.name));
      const paint = (start, end, name) => {
        if (name) for (let i = start; i < end; i++) scopes[i].push(name);
      };
      const paintCaptures = (match, captures) => {
        if (!captures) return;
        for (const [group, capture] of Object.entries(captures)) {
          const span = match.indices[Number(group)];
          if (span) paint(span[0], span[1], capture.name);
        }
      };
      let pos = 0;
      while (pos <= line.length) {
        const top = stack[stack.length - 1];
        const rules = this.#rules(top ? top.patterns ?? [] : this.grammar.patterns);
        let best = null;
        if (top) {
          const m = this.#search(top.end, line, pos);
          if (m) best = { kind: 'end', rule: top, m };
        }
        for (const rule of rules) {
          const m = this.#search(rule.match ?? rule.begin, line, pos);
          if (m && (best === null || m.index < best.m.index)) best = { kind: rule.match !== undefined ? 'match' : 'begin', rule, m };
        }
        if (best === null) break;
        const { kind, rule, m } = best;
        const end = m.index + m[0].length;
        if (kind === 'end') {
          paintCaptures(m, rule.endCaptures ?? rule.captures);
          if (rule.name) {
            for (let i = end; i < line.length; i++) {
              const at = scopes[i].lastIndexOf(rule.name);
              if (at >= 0) scopes[i].splice(at, 1);
            }
          }
          stack.pop();
          pos = end; // the stack shrank, so a match of no length still makes progress
        } else if (kind === 'match') {
          paint(m.index, end, rule.name);
          paintCaptures(m, rule.captures);
          pos = end > m.index ? end : end + 1;
        } else {
          paint(m.index, line.length, rule.name);
          paintCaptures(m, rule.beginCaptures ?? rule.captures);
          stack.push(rule);
          pos = end > m.index ? end : end + 1;
        }
      }
      result.push(tokensOf(line, scopes));
    }
    return { lines: result, state: stack };
  }
}

function tokensOf(line, scopes) {
  const tokens = [];
  for (let i = 0; i < line.length; i++) {
    const key = scopes[i].join(' ');
    const last = tokens[tokens.length - 1];
    if (last && last.key === key) last.text += line[i];
    else tokens.push({ text: line[i], scopes: scopes[i], key });
  }
  return tokens.map(({ text, scopes: s }) => ({ text, scopes: s }));
}

// The class a token is drawn with: its innermost scope that has a colour.
const CLASSES = [
  ['comment', 'tok-comment'],
  ['support.function.escape', 'tok-escape'],
  ['keyword.control', 'tok-keyword'],
  ['keyword.operator', 'tok-operator'],
  ['constant.numeric', 'tok-number'],
  ['variable.language', 'tok-reserved'],
  ['string.quoted.double', 'tok-literal'],
  ['string.quoted.single', 'tok-true-literal'],
  ['meta.forced-eval', 'tok-forced'],
  ['variable.other.pointer', 'tok-pointer'],
];

export function classOf(scopes) {
  for (let i = scopes.length - 1; i >= 0; i--) {
    if (scopes[i].startsWith('punctuation.')) continue;
    for (const [prefix, cls] of CLASSES) if (scopes[i].startsWith(prefix)) return cls;
  }
  return null;
}
