'use strict';
// Finds the directory that holds this package's native parts and loads them
// from it. The three Node modules (automation_addon.node, desktop_sim.node,
// platform_info.node) link one shared library, libkorvo_platform.so, found
// beside them ($ORIGIN): the add-on and the sim control share the simulated
// desktop's state through it. So one directory is chosen per process, the
// first time any part loads, and every later part comes from the same one;
// a process never holds two copies of the library.
//
// Where the parts are looked for, in order:
//   AUTOMATION_ADDON_BUILD_DIR set: <that dir>/lib only (a sanitizer build, say);
//   an installed package: prebuilds/<platform>-<arch>/, then build/lib/ (the
//     source build scripts/install.js makes when no prebuild fits);
//   a development checkout (its C++ tests are present): build/lib/ first, so
//     a fresh `npm run build` is what runs, then prebuilds/.
const fs = require('fs');
const path = require('path');

const root = path.join(__dirname, '..');
const prebuildDir = path.join(root, 'prebuilds', `${process.platform}-${process.arch}`);
const buildLibDir = path.join(root, 'build', 'lib');
const isDevelopmentCheckout = fs.existsSync(path.join(root, 'test', 'cpp'));

function candidateDirs() {
  const chosenBuild = process.env.AUTOMATION_ADDON_BUILD_DIR;
  if (chosenBuild) return [path.join(path.resolve(chosenBuild), 'lib')];
  return isDevelopmentCheckout ? [buildLibDir, prebuildDir] : [prebuildDir, buildLibDir];
}

let chosenDir = null;

function notBuilt(what, tried) {
  const lines = tried.map((t) => `  ${t.file}: ${t.reason}`).join('\n');
  return new Error(
    `${what}: the native module is not built or does not load on this machine ` +
      `(${process.platform}-${process.arch}). Tried:\n${lines}\n` +
      'Reinstall the package (`npm rebuild automation-addon` builds it from source), ' +
      'or in a checkout of its sources run `npm run build`.'
  );
}

// Loads `<dir>/<file>` from the directory chosen for this process. `what`
// names the caller in the error when nothing loads. An error the module
// throws while initialising (no desktop to drive, a worker thread) is passed
// on as it is: the directory is right, the machine is not ready.
function load(file, what) {
  if (chosenDir) return require(path.join(chosenDir, file));
  const tried = [];
  for (const dir of candidateDirs()) {
    const full = path.join(dir, file);
    if (!fs.existsSync(full)) {
      tried.push({ file: full, reason: 'missing' });
      continue;
    }
    try {
      const mod = require(full);
      chosenDir = dir;
      return mod;
    } catch (err) {
      if (err && err.code === 'ERR_DLOPEN_FAILED') {
        tried.push({ file: full, reason: String(err.message).split('\n')[0] });
        continue;
      }
      chosenDir = dir;
      throw err;
    }
  }
  const e = notBuilt(what, tried);
  e.code = 'MODULE_NOT_FOUND';
  throw e;
}

// The directory the parts load from (null before the first load).
function loadedFrom() {
  return chosenDir;
}

// The settings-watch executable beside the chosen (or first present) parts.
function settingsWatchPath() {
  const dirs = chosenDir ? [chosenDir] : candidateDirs();
  for (const dir of dirs) {
    const beside = path.join(dir, 'settings-watch');
    if (fs.existsSync(beside)) return beside;
    const built = path.join(dir, '..', 'settings-watch', 'settings-watch');
    if (fs.existsSync(built)) return built;
  }
  return null;
}

module.exports = { load, loadedFrom, settingsWatchPath, candidateDirs, prebuildDir, buildLibDir, root };
