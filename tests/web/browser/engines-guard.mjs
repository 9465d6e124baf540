// engines-guard.mjs NODE_VERSION LOCKFILE: every package of the browser test's lock file accepts
// NODE_VERSION in its "engines" field. The version given is the Node.js that Debian 12 installs
// (scripts/install-deps installs Debian's nodejs where none is): a locked package that wants a
// newer one would pass here on a machine with its own Node and fail on a fresh Debian.
import { readFileSync } from 'node:fs';

const [version, lockFile] = process.argv.slice(2);
const parse = (text) => text.replace(/^v/, '').split('.').map((part) => Number.parseInt(part, 10) || 0);
const compare = (a, b) => {
  for (let i = 0; i < 3; i++) {
    if ((a[i] ?? 0) !== (b[i] ?? 0)) return (a[i] ?? 0) - (b[i] ?? 0);
  }
  return 0;
};

// One comparator of a range: ">=18", "<21.0.0", "^14.17.0", "~16.2", "18.x", "20".
function accepts(comparator, have) {
  const match = /^(>=|<=|>|<|=|\^|~)?\s*v?([\dx*.]+)$/.exec(comparator);
  if (!match) throw new Error(`a range this guard does not read: "${comparator}"`);
  const [, op = '', text] = match;
  const parts = text.split('.').filter((p) => p !== 'x' && p !== '*');
  const want = parse(parts.join('.'));
  const c = compare(have, want);
  switch (op) {
    case '>=': return c >= 0;
    case '>': return c > 0;
    case '<=': return c <= 0;
    case '<': return c < 0;
    case '^': return c >= 0 && have[0] === want[0] && (want[0] !== 0 || have[1] === want[1]);
    case '~': return c >= 0 && have[0] === want[0] && (parts.length < 2 || have[1] === want[1]);
    default: // "=", or a partial version: every version it names
      return parts.every((_, i) => have[i] === want[i]);
  }
}
const satisfies = (range, have) =>
  range.split('||').some((set) => {
    const comparators = set.trim().replace(/(>=|<=|>|<|=)\s+/g, '$1').split(/\s+/).filter(Boolean);
    // "1.2.3 - 2.3.4"
    if (comparators.length === 3 && comparators[1] === '-') {
      return accepts('>=' + comparators[0], have) && accepts('<=' + comparators[2], have);
    }
    return comparators.every((comparator) => accepts(comparator, have));
  });

const have = parse(version);
const lock = JSON.parse(readFileSync(lockFile, 'utf8'));
const refused = Object.entries(lock.packages ?? {})
  .filter(([, p]) => p.engines?.node && !satisfies(p.engines.node, have))
  .map(([name, p]) => `${name || 'the project'} wants node ${p.engines.node}`);
if (refused.length) {
  console.log(`FAILED: Node.js ${version} is refused: ${refused.join('; ')}`);
  process.exit(1);
}
console.log(`engines-guard: every locked package accepts Node.js ${version}`);
