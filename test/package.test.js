'use strict';
// The package as a user gets it: packed with `npm pack`, installed into a
// fresh project with `npm install`, then loaded from CommonJS, ESM and
// TypeScript. The tarball carries a prebuild made from this checkout's build
// (so the install compiles nothing); AUTOMATION_ADDON_TEST_SOURCE_BUILD=1
// also installs one without prebuilds, which builds from source (minutes).
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');

const repo = path.join(__dirname, '..');
const skipReason = process.env.AUTOMATION_ADDON_BUILD_DIR
  ? 'packaging is checked against the regular build, not AUTOMATION_ADDON_BUILD_DIR'
  : spawnSync('npm', ['--version']).status !== 0 ? 'npm is not on PATH' : null;

const NPM_FLAGS = ['--no-audit', '--no-fund', '--prefer-offline', '--foreground-scripts'];
const prebuildName = `${process.platform}-${process.arch}`;

function sh(cmd, args, opts = {}) {
  const r = spawnSync(cmd, args, { encoding: 'utf8', timeout: 300000, ...opts });
  if (r.error) throw r.error;
  return r;
}

function ok(cmd, args, opts) {
  const r = sh(cmd, args, opts);
  assert.strictEqual(r.status, 0, `${cmd} ${args.join(' ')} failed:\n${r.stdout}\n${r.stderr}`);
  return r.stdout;
}

// A tarball of this checkout; `prebuild` replaces its prebuilds/ with one
// made from build/, or drops prebuilds/ altogether when false.
function packTarball(dir, prebuild) {
  const first = JSON.parse(ok('npm', ['pack', '--json', '--pack-destination', dir], { cwd: repo }))[0];
  const stage = path.join(dir, 'stage');
  fs.mkdirSync(stage);
  ok('tar', ['xzf', path.join(dir, first.filename), '-C', stage]);
  const pkg = path.join(stage, 'package');
  fs.rmSync(path.join(pkg, 'prebuilds'), { recursive: true, force: true });
  if (prebuild) {
    ok(process.execPath, [path.join(repo, 'scripts', 'prebuild.js'), '--from', path.join(repo, 'build'),
      '--out', path.join(pkg, 'prebuilds', prebuildName)]);
  }
  fs.rmSync(path.join(dir, first.filename));
  const packed = JSON.parse(ok('npm', ['pack', '--json', '--pack-destination', dir], { cwd: pkg }))[0];
  fs.rmSync(stage, { recursive: true, force: true });
  return { file: path.join(dir, packed.filename), files: packed.files.map((f) => f.path) };
}

function freshProject(dir, tarball, env = {}) {
  const app = path.join(dir, 'app');
  fs.mkdirSync(app);
  fs.writeFileSync(path.join(app, 'package.json'),
    JSON.stringify({ name: 'consumer', version: '1.0.0', private: true }));
  const out = ok('npm', ['install', ...NPM_FLAGS, tarball], { cwd: app, env: { ...process.env, ...env } });
  return { app, out };
}

const simEnv = { ...process.env, KORVO_OZA_PLATFORM: 'sim' };
const CAPTURE_CJS = `
const sim = require('automation-addon/sim'); sim.loadSampleScene();
const snap = require('automation-addon').captureApp(501);
require('automation-addon/platform').describe();
const libs = new Set(require('fs').readFileSync('/proc/self/maps', 'utf8').split('\\n')
  .filter((l) => l.endsWith('/libkorvo_platform.so')).map((l) => l.slice(l.indexOf('/'))));
console.log(JSON.stringify({ n: snap.elements.length, role: snap.elements[0].role, libs: [...libs] }));`;

function assertCaptures(app) {
  const got = JSON.parse(ok(process.execPath, ['-e', CAPTURE_CJS], { cwd: app, env: simEnv }));
  assert.ok(got.n > 1, `a capture of the sample scene has elements: ${JSON.stringify(got)}`);
  // The three modules share one copy of the platform library.
  assert.strictEqual(got.libs.length, 1, got.libs.join(', '));
  return got;
}

test('packed, installed into a fresh project, used from CJS, ESM and TypeScript', { skip: skipReason || false }, (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'automation-addon-pack-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const { file, files } = packTarball(dir, true);

  // What a build and a user need, and nothing else.
  for (const need of ['CMakeLists.txt', 'scenes/sample-scene.json', 'index.mjs', 'index.d.ts', 'lib/native.js',
    'scripts/install.js', 'bin/settings-watch', `prebuilds/${prebuildName}/libkorvo_platform.so`]) {
    assert.ok(files.includes(need), `the tarball carries ${need}`);
  }
  for (const f of files) assert.doesNotMatch(f, /^(test|bench|build|examples|node_modules)\//, f);

  const { app, out } = freshProject(dir, file);
  assert.match(out, /using the prebuilt binaries/);

  const cjs = assertCaptures(app);
  const esm = JSON.parse(ok(process.execPath, ['--input-type=module', '-e', `
    import addon, { captureApp, ackCaptureEpoch } from 'automation-addon';
    import { loadSampleScene } from 'automation-addon/sim';
    import { describe } from 'automation-addon/platform';
    loadSampleScene();
    const snap = captureApp(501);
    console.log(JSON.stringify({ n: snap.elements.length, role: snap.elements[0].role,
      same: addon.captureApp === captureApp && typeof ackCaptureEpoch === 'function',
      backend: describe().backend }));`], { cwd: app, env: simEnv }));
  assert.deepStrictEqual(esm, { n: cjs.n, role: cjs.role, same: true, backend: 'sim' });
  assert.match(cjs.libs[0], new RegExp(`prebuilds/${prebuildName}/libkorvo_platform\\.so$`));

  // No desktop: the add-on's own reason, not a missing binary.
  const bare = { ...process.env };
  delete bare.KORVO_OZA_PLATFORM;
  delete bare.DISPLAY;
  delete bare.WAYLAND_DISPLAY;
  const noDesktop = sh(process.execPath, ['-e', "require('automation-addon')"], { cwd: app, env: bare });
  assert.notStrictEqual(noDesktop.status, 0);
  assert.match(noDesktop.stderr, /no desktop to drive/);

  // settings-watch runs from the prebuild (its library found beside it) and
  // gives the desktop's reason, exit status 2.
  const watch = sh(path.join(app, 'node_modules', '.bin', 'settings-watch'), [],
    { cwd: app, env: { ...bare, KORVO_OZA_PLATFORM: 'x11' }, timeout: 20000 });
  assert.strictEqual(watch.status, 2, watch.stderr);
  assert.doesNotMatch(watch.stderr, /shared librar/);

  // The tool server runs from the package, on the sample scene it ships.
  const mcp = sh(path.join(app, 'node_modules', '.bin', 'automation-mcp'), [], {
    cwd: app, env: simEnv, timeout: 30000, input: '{"jsonrpc":"2.0","id":1,"method":"tools/list"}\n',
  });
  const listed = JSON.parse(mcp.stdout.split('\n').find((l) => l.includes('"id":1')));
  assert.ok(listed.result.tools.some((tool) => tool.name === 'list_apps'), mcp.stderr);

  // TypeScript, CommonJS and ESM consumers; their wrong calls are expected errors.
  for (const f of ['consumer.cts', 'consumer.mts']) fs.copyFileSync(path.join(__dirname, 'package', f), path.join(app, f));
  const tsconfig = JSON.parse(fs.readFileSync(path.join(__dirname, 'package', 'tsconfig.json'), 'utf8'));
  tsconfig.compilerOptions.typeRoots = [path.join(repo, 'node_modules', '@types')];
  fs.writeFileSync(path.join(app, 'tsconfig.json'), JSON.stringify(tsconfig));
  ok(process.execPath, [path.join(repo, 'node_modules', 'typescript', 'bin', 'tsc'), '-p', app]);

  // `npm ci` from the lock file reinstalls it, still working.
  ok('npm', ['ci', ...NPM_FLAGS], { cwd: app });
  assertCaptures(app);
});

test('without a prebuild, the install builds from source', {
  skip: skipReason || (process.env.AUTOMATION_ADDON_TEST_SOURCE_BUILD === '1' ? null :
    'the source build takes minutes: set AUTOMATION_ADDON_TEST_SOURCE_BUILD=1 to run it') || false,
}, (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'automation-addon-src-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const { file, files } = packTarball(dir, false);
  assert.ok(!files.some((f) => f.startsWith('prebuilds/')));
  // ccache (CMAKE_CXX_COMPILER_LAUNCHER) hits across runs when paths are
  // taken relative to the package.
  const pkgDir = path.join(dir, 'app', 'node_modules', 'automation-addon');
  const { app, out } = freshProject(dir, file, { CCACHE_BASEDIR: pkgDir, CMAKE_BUILD_PARALLEL_LEVEL: '2' });
  assert.match(out, /built from source in build\//);
  assertCaptures(app);
  // A second install finds the build and keeps it.
  const again = ok('npm', ['rebuild', '--foreground-scripts', 'automation-addon'], { cwd: app });
  assert.match(again, /already built in build\//);
});

test('missing system libraries give one line naming the Debian and Fedora packages', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'automation-addon-libs-'));
  try {
    fs.mkdirSync(path.join(dir, 'scripts'));
    fs.copyFileSync(path.join(repo, 'scripts', 'install.js'), path.join(dir, 'scripts', 'install.js'));
    const r = sh(process.execPath, [path.join(dir, 'scripts', 'install.js')], {
      env: { ...process.env, AUTOMATION_ADDON_BUILD_FROM_SOURCE: '1', PKG_CONFIG_LIBDIR: path.join(dir, 'none') },
    });
    assert.strictEqual(r.status, 1);
    const lines = r.stdout.split('\n').filter((l) => /cannot build from source/.test(l));
    assert.strictEqual(lines.length, 1, r.stdout);
    assert.match(lines[0], /missing cairo, .*sqlite3\. .*apt-get install .*libcairo2-dev.*dnf install .*cairo-devel/);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
