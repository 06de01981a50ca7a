#!/usr/bin/env node
'use strict';
// Makes the prebuild for this machine's platform and architecture:
// prebuilds/<platform>-<arch>/ with the three Node modules, the platform
// library they share (found beside them through $ORIGIN) and settings-watch,
// plus prebuild.json naming the C library and the system libraries the
// binaries link (a desktop must have them; see docs/install.md).
//
//   node scripts/prebuild.js                  build (as the install step does) into build-prebuild/, then copy
//   node scripts/prebuild.js --from build     copy an existing Release build instead
//   node scripts/prebuild.js --out DIR        write to DIR instead of prebuilds/<platform>-<arch>
//
// A release runs it once per target (linux-x64 here; linux-arm64 on an arm64
// machine or container with the same packages) and ships every folder.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync, execFileSync } = require('child_process');

const root = path.join(__dirname, '..');
const FILES = ['automation_addon.node', 'desktop_sim.node', 'platform_info.node', 'libkorvo_platform.so'];

function parseArgs(argv) {
  const opts = { from: null, out: path.join(root, 'prebuilds', `${process.platform}-${process.arch}`) };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--from') opts.from = path.resolve(argv[++i]);
    else if (argv[i] === '--out') opts.out = path.resolve(argv[++i]);
    else throw new Error(`prebuild: unknown argument ${argv[i]}`);
  }
  return opts;
}

function run(cmd, args) {
  const r = spawnSync(cmd, args, { cwd: root, stdio: 'inherit' });
  if (r.error || r.status !== 0) throw new Error(`prebuild: ${cmd} ${args.join(' ')} failed`);
}

function build() {
  const dir = path.join(root, 'build-prebuild');
  run('cmake', ['-S', root, '-B', dir, '-DCMAKE_BUILD_TYPE=Release', '-DKORVO_BUILD_TESTS=OFF',
    '-DKORVO_BUILD_BENCH=OFF', '-DKORVO_WERROR=OFF']);
  const jobs = process.env.CMAKE_BUILD_PARALLEL_LEVEL || String(os.cpus().length);
  run('cmake', ['--build', dir, '-j', jobs, '--target', 'automation_addon', 'desktop_sim', 'platform_info',
    'settings-watch']);
  return dir;
}

// The shared libraries a binary names (DT_NEEDED), or [] without readelf.
function needed(file) {
  try {
    const out = execFileSync('readelf', ['-d', file], { encoding: 'utf8' });
    return [...out.matchAll(/\(NEEDED\)\s+Shared library: \[([^\]]+)\]/g)].map((m) => m[1]);
  } catch {
    return [];
  }
}

function main(argv) {
  const opts = parseArgs(argv);
  const buildDir = opts.from || build();
  const sources = FILES.map((f) => path.join(buildDir, 'lib', f));
  sources.push(path.join(buildDir, 'settings-watch', 'settings-watch'));
  for (const s of sources) if (!fs.existsSync(s)) throw new Error(`prebuild: ${s} is missing; build first`);

  fs.rmSync(opts.out, { recursive: true, force: true });
  fs.mkdirSync(opts.out, { recursive: true });
  const libs = new Set();
  for (const s of sources) {
    const dest = path.join(opts.out, path.basename(s));
    fs.copyFileSync(s, dest);
    fs.chmodSync(dest, 0o755);
    // Symbols are not needed to run; stripping halves the folder.
    spawnSync('strip', ['--strip-unneeded', dest], { stdio: 'ignore' });
    for (const lib of needed(dest)) libs.add(lib);
  }
  const ours = new Set(FILES);
  const manifest = {
    platform: process.platform,
    arch: process.arch,
    libc: 'glibc',
    glibc: process.report.getReport().header.glibcVersionRuntime || null,
    napiVersion: 7,
    systemLibraries: [...libs].filter((l) => !ours.has(l)).sort(),
  };
  fs.writeFileSync(path.join(opts.out, 'prebuild.json'), JSON.stringify(manifest, null, 2) + '\n');
  process.stdout.write(`prebuild: wrote ${path.relative(process.cwd(), opts.out) || opts.out} ` +
    `(glibc ${manifest.glibc}, ${manifest.systemLibraries.length} system libraries)\n`);
}

if (require.main === module) {
  try {
    main(process.argv.slice(2));
  } catch (err) {
    process.stderr.write(`${err.message}\n`);
    process.exitCode = 1;
  }
}

module.exports = { main };
