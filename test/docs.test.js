'use strict';
// The documentation cannot drift from the package:
// - docs/api/<family>.md has one entry ("### `name(...)`") for every export
//   typings/<family>.d.ts declares, each with its return, throw and example
//   parts, and no entry for a name that is not an export;
// - every code block of the README and docs/ runs or type-checks:
//   ```js in docs/api/ runs after the reference's prelude (the sample scene
//   loaded, inside an async function); ```js elsewhere runs as it stands;
//   ```js x11 and ```ts (real-desktop snippets) are type-checked against the
//   typings; ```json parses. Shell and text blocks are not run.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const table = require('./fixtures/export-table.json');

const repo = path.join(__dirname, '..');
const apiDir = path.join(repo, 'docs', 'api');

function markdownFiles(dir) {
  const out = [];
  for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
    const full = path.join(dir, e.name);
    if (e.isDirectory()) out.push(...markdownFiles(full));
    else if (e.name.endsWith('.md')) out.push(full);
  }
  return out;
}

// Fenced blocks: {info, code, line}.
function codeBlocks(text) {
  const blocks = [];
  const lines = text.split('\n');
  for (let i = 0; i < lines.length; i++) {
    const open = /^```(.*)$/.exec(lines[i]);
    if (!open) continue;
    const start = i;
    const body = [];
    for (i++; i < lines.length && !/^```\s*$/.test(lines[i]); i++) body.push(lines[i]);
    blocks.push({ info: open[1].trim(), code: body.join('\n'), line: start + 1 });
  }
  return blocks;
}

function declaredExports(file) {
  const text = fs.readFileSync(file, 'utf8');
  return [...text.matchAll(/^export (?:declare )?(?:function|const) (\w+)/gm)].map((m) => m[1]);
}

// Entries of one reference page: name -> its text up to the next entry.
function entries(text) {
  const map = new Map();
  const parts = text.split(/^(?=### `)/m).slice(1);
  for (const part of parts) {
    const name = /^### `(\w+)/.exec(part)[1];
    assert.ok(!map.has(name), `two entries for ${name}`);
    map.set(name, part.split(/^## /m)[0]);
  }
  return map;
}

const families = fs.readdirSync(path.join(repo, 'typings')).filter((f) => f.endsWith('.d.ts'))
  .map((f) => f.replace(/\.d\.ts$/, ''));

test('every export has one reference entry, with returns, throws and an example', () => {
  const allExports = [...table.init, ...table.backgroundInput, ...table.ghostCursor, ...table.pip]
    .map((n) => n.replace(/^\*/, ''));
  const declared = [];
  for (const family of families) {
    const names = declaredExports(path.join(repo, 'typings', `${family}.d.ts`));
    declared.push(...names);
    const page = path.join(apiDir, `${family}.md`);
    assert.ok(fs.existsSync(page), `docs/api/${family}.md exists`);
    const got = entries(fs.readFileSync(page, 'utf8'));
    for (const name of names) {
      assert.ok(got.has(name), `docs/api/${family}.md has an entry for ${name}`);
      const body = got.get(name);
      for (const part of ['**Returns**', '**Throws**']) assert.ok(body.includes(part), `${name}: ${part}`);
      assert.match(body, /^```js/m, `${name}: an example`);
    }
    for (const name of got.keys()) assert.ok(names.includes(name), `docs/api/${family}.md: ${name} is no export`);
  }
  assert.deepStrictEqual([...declared].sort(), [...allExports].sort(), 'the typings declare the export table');
});

// The prelude the reference states (docs/api/README.md), run once per page.
const PRELUDE = codeBlocks(fs.readFileSync(path.join(apiDir, 'README.md'), 'utf8'))
  .find((b) => b.info === 'js').code;

function runNode(code, label) {
  const r = spawnSync(process.execPath, ['-e', code], {
    cwd: repo,
    env: { ...process.env, KORVO_OZA_PLATFORM: 'sim', KORVO_OZA_CURSOR_OVERLAY: '0' },
    encoding: 'utf8',
    timeout: 60000,
  });
  assert.strictEqual(r.status, 0, `${label} failed (status ${r.status}, ${r.signal || ''}):\n${r.stderr}`);
  return r.stdout;
}

test('the reference examples run on the simulated desktop', () => {
  for (const family of families) {
    const page = path.join(apiDir, `${family}.md`);
    const text = fs.readFileSync(page, 'utf8');
    const examples = codeBlocks(text).filter((b) => b.info === 'js');
    // One process per page; each example in its own scope, on a fresh scene.
    const body = examples.map((b) => `
      current = 'docs/api/${family}.md:${b.line}';
      sim.reset(); sim.loadSampleScene();
      await (async () => {\n${b.code}\n})();`).join('\n');
    runNode(`${PRELUDE}
      let current = '';
      (async () => {${body}
      })().then(() => process.exit(0), (err) => {
        process.stderr.write(current + ': ' + (err && err.stack || err) + '\\n');
        process.exit(1);
      });`, `docs/api/${family}.md`);
  }
});

function otherPages() {
  const pages = [path.join(repo, 'README.md'), path.join(repo, 'CHANGELOG.md')];
  return pages.concat(markdownFiles(path.join(repo, 'docs')).filter((f) => !f.startsWith(apiDir + path.sep)));
}

test('README and guide snippets run as they stand; JSON parses', () => {
  for (const page of otherPages()) {
    if (!fs.existsSync(page)) continue;
    const rel = path.relative(repo, page);
    for (const b of codeBlocks(fs.readFileSync(page, 'utf8'))) {
      if (b.info === 'js') runNode(b.code, `${rel}:${b.line}`);
      else if (b.info === 'json') assert.doesNotThrow(() => JSON.parse(b.code), `${rel}:${b.line}`);
    }
  }
});

test('real-desktop snippets type-check against the typings', () => {
  // Inside the package, so 'automation-addon' resolves to it by its own name
  // (its exports map and typings), as in a project that depends on it.
  const dir = fs.mkdtempSync(path.join(repo, '.docs-check-'));
  try {
    const files = [];
    for (const page of [...otherPages(), ...markdownFiles(apiDir)]) {
      if (!fs.existsSync(page)) continue;
      for (const b of codeBlocks(fs.readFileSync(page, 'utf8'))) {
        if (b.info !== 'js x11' && b.info !== 'ts') continue;
        const name = `${path.basename(page, '.md')}-${b.line}.${b.info === 'ts' ? 'mts' : 'js'}`;
        fs.writeFileSync(path.join(dir, name), `${b.code}\nexport {};\n`);
        files.push(name);
      }
    }
    if (files.length === 0) return;
    fs.writeFileSync(path.join(dir, 'tsconfig.json'), JSON.stringify({
      compilerOptions: {
        strict: true, noEmit: true, allowJs: true, checkJs: true, module: 'nodenext', target: 'es2022',
        moduleResolution: 'nodenext', types: ['node'],
      },
      files,
    }));
    const r = spawnSync(process.execPath, [path.join(repo, 'node_modules', 'typescript', 'bin', 'tsc'), '-p', dir],
      { encoding: 'utf8', timeout: 120000 });
    assert.strictEqual(r.status, 0, r.stdout + r.stderr);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
