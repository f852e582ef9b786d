// What the web tests share: where the repository and the web build are, and the staged
// package, imported once.
import { dirname, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

export const repo = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const build = resolve(process.env.ZANDLE_WEB_BUILD ?? resolve(repo, 'build-web'));
export const packageDir = resolve(build, 'package');
export const siteDir = resolve(build, 'site');

export const { Zandle, ZandleError, EscapeFailure } = await import(pathToFileURL(resolve(packageDir, 'zandle.js')));

/** A machine whose output is collected: `m.printed()` is all it printed so far, as text, and
 * `m.printedBytes()` as bytes. */
export async function machine(options = {}) {
  let printed = '';
  const bytes = [];
  const output = (text, b) => {
    printed += text;
    bytes.push(b);
  };
  const m = await Zandle.create({ output, ...options });
  m.printed = () => printed;
  m.printedBytes = () => Buffer.concat(bytes);
  return m;
}

/** zndvm lines that print a variable. */
export function print(variable) {
  return `New __Escape_std.io.print_ARG0 <${variable}>\nEscape std.io.print\n`;
}
