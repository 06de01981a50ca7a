#!/usr/bin/env node
'use strict';
// The package's install step (`npm install`, `npm ci`, `npm rebuild`).
//
// 1. A prebuild for this platform (prebuilds/<platform>-<arch>/) that loads
//    here is used as it is.
// 2. Else a source build already in build/ that loads is kept.
// 3. Else the native parts are built from source with CMake: the add-on,
//    desktop_sim, platform_info and settings-watch only, without the C++
//    tests, the benchmarks and warnings-as-errors. CMAKE_CXX_COMPILER_LAUNCHER
//    (ccache, say) and CMAKE_BUILD_PARALLEL_LEVEL are honoured.
//
// AUTOMATION_ADDON_BUILD_FROM_SOURCE=1 skips 1 and 2. In a development
// checkout (the C++ tests are present) nothing is done: `npm run build`
// builds everything there, tests included.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const root = path.join(__dirname, '..');
const buildDir = path.join(root, 'build');
const prebuildDir = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`);
const MODULES = ['automation_addon.node', 'desktop_sim.node', 'platform_info.node'];
const TARGETS = ['automation_addon', 'desktop_sim', 'platform_info', 'settings-watch'];

// What a source build needs from the system, by distribution.
const SYSTEM_PACKAGES = {
  debian: 'cmake g++ make pkg-config libcairo2-dev libfreetype-dev libpng-dev libjpeg-dev libsqlite3-dev',
  fedora: 'cmake gcc-c++ make pkgconf-pkg-config cairo-devel freetype-devel libpng-devel libjpeg-turbo-devel sqlite-devel',
};
const PKG_CONFIG_MODULES = ['cairo', 'freetype2', 'libpng', 'libjpeg', 'sqlite3'];

function say(line) {
  process.stdout.write(`automation-addon: ${line}\n`);
}

function missingLine(what) {
  return `cannot build from source: missing ${what}. Install the packages: Debian/Ubuntu: ` +
    `sudo apt-get install ${SYSTEM_PACKAGES.debian}; Fedora: sudo dnf install ${SYSTEM_PACKAGES.fedora}`;
}

// True when every native module in `dir` loads in a fresh process (on the
// simulated desktop, so no display is needed); a binary built for another
// libc or missing one of its libraries fails here.
function loadsFrom(dir) {
  if (!MODULES.every((m) => fs.existsSync(path.join(dir, m)))) return false;
  const script = MODULES.map((m) => `require(${JSON.stringify(path.join(dir, m))});`).join('');
  const r = spawnSync(process.execPath, ['-e', script], {
    env: { ...process.env, KORVO_OZA_PLATFORM: 'sim' },
    encoding: 'utf8',
    timeout: 60000,
  });
  if (r.status !== 0) {
    const why = (r.stderr || '').split('\n').find((l) => /Error/.test(l)) || `exit ${r.status}`;
    say(`${path.relative(root, dir) || dir} does not load here: ${why.trim()}`);
    return false;
  }
  return true;
}

function has(cmd, args = ['--version']) {
  const r = spawnSync(cmd, args, { stdio: 'ignore' });
  return !r.error && r.status === 0;
}

function checkBuildTools() {
  const missing = [];
  if (!has('cmake')) missing.push('cmake');
  if (!has(process.env.CXX || 'c++')) missing.push('a C++ compiler');
  if (!has('pkg-config')) missing.push('pkg-config');
  else {
    for (const m of PKG_CONFIG_MODULES) if (!has('pkg-config', ['--exists', m])) missing.push(m);
  }
  return missing;
}

function run(cmd, args) {
  say(`${cmd} ${args.join(' ')}`);
  const r = spawnSync(cmd, args, { cwd: root, stdio: 'inherit' });
  return !r.error && r.status === 0;
}

function buildFromSource() {
  const missing = checkBuildTools();
  if (missing.length) {
    say(missingLine(missing.join(', ')));
    return false;
  }
  const jobs = process.env.CMAKE_BUILD_PARALLEL_LEVEL || String(Math.max(1, os.cpus().length));
  const configured = run('cmake', [
    '-S', root, '-B', buildDir, '-DCMAKE_BUILD_TYPE=Release',
    '-DKORVO_BUILD_TESTS=OFF', '-DKORVO_BUILD_BENCH=OFF', '-DKORVO_WERROR=OFF',
  ]);
  if (!configured) {
    say(missingLine('a library or tool CMake asked for (see above)'));
    return false;
  }
  return run('cmake', ['--build', buildDir, '-j', jobs, '--target', ...TARGETS]);
}

function main() {
  if (fs.existsSync(path.join(root, 'test', 'cpp'))) {
    say('development checkout: nothing to install; `npm run build` builds the add-on and its tests');
    return 0;
  }
  const fromSource = process.env.AUTOMATION_ADDON_BUILD_FROM_SOURCE === '1';
  if (!fromSource && loadsFrom(prebuildDir)) {
    say(`using the prebuilt binaries in prebuilds/${path.basename(prebuildDir)}`);
    return 0;
  }
  const builtLib = path.join(buildDir, 'lib');
  if (!fromSource && loadsFrom(builtLib)) {
    say('already built in build/; set AUTOMATION_ADDON_BUILD_FROM_SOURCE=1 to build again');
    return 0;
  }
  say(`building the native parts from source (no prebuild fits ${process.platform}-${process.arch})`);
  if (!buildFromSource()) return 1;
  if (!loadsFrom(builtLib)) {
    say('the source build finished but its modules do not load (see above)');
    return 1;
  }
  say('built from source in build/');
  return 0;
}

if (require.main === module) process.exitCode = main();

module.exports = { SYSTEM_PACKAGES, PKG_CONFIG_MODULES, missingLine };
