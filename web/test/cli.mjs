// The command line of vm and zndvm over the web package, for running the end-to-end cases
// against the WebAssembly build (cases.py): the script runs on a machine of the package, its
// output goes where the program's goes, a failure ends with "error: <Name>" and status 1, and
// a halt with the program's message.
//
//     node cli.mjs vm|zndvm PROGRAM_NAME SCRIPT [ARGUMENTS...]
import { readFileSync, writeSync } from 'node:fs';
import { pathToFileURL } from 'node:url';

const [kind, programName, script, ...rest] = process.argv.slice(2);
const { Zandle } = await import(pathToFileURL(`${process.env.ZANDLE_WEB_PACKAGE}/zandle.js`));

let input;
try {
  input = readFileSync(0);
} catch {
  input = new Uint8Array(0);
}
const fd = kind === 'vm' ? 2 : 1;
const m = await Zandle.create({
  kind,
  preset: 'all',
  input,
  arguments: [programName, script, ...rest],
  output: (text, bytes) => {
    for (let at = 0; at < bytes.length;) at += writeSync(fd, bytes, at);
  },
});
const result = m.run(readFileSync(script), script);
if (result.status === 'failed') writeSync(2, `error: ${result.error}\n`);
// A halt is reported by its reason: the program prints its message where scripts print.
if (result.status === 'halted' && result.halt !== 'exit') {
  writeSync(fd, result.halt === 'call_stack' ? 'VM: FATAL: CALL STACK OVERFLOW\n' : 'VM: FATAL: INSTRUCTION LIMIT REACHED\n');
}
process.exitCode = result.exitStatus;
