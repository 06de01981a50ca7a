'use strict';
// The screenshot tool: a window's image with its pixel size, the window's
// bounds on screen and the scale between them, optionally scaled down to fit
// max_width / max_height. The scale is remembered per window: click_at with
// coords "image" and snapshot's bounds use it.
const { z } = require('zod');
const { refuse } = require('./session');
const { windowId, pid, bundleId, expectedBundle, READ, isAvailable } = require('./common');

// sharp reads the image's size and scales it down; it is loaded on first use.
let sharpModule = null;
const sharp = () => (sharpModule = sharpModule || require('sharp'));

// The on-screen entry of a window, or null.
const probeWindow = (addon, id) => addon.screenCaptureProbeWindows().find((w) => w.windowId === id) || null;
const boundsOf = (w) => [w.bounds.x, w.bounds.y, w.bounds.width, w.bounds.height];

async function capture(session, args, format) {
  const { addon, desktop } = session;
  if (args.pid === undefined) return { image: addon.captureWindowImage(args.window_id, format), path: 'plain' };
  // Another owner's window is named as such before any capture (the
  // verified path would only answer null).
  const w = probeWindow(addon, args.window_id);
  if (w && w.ownerPid !== args.pid) {
    refuse(`window ${args.window_id} belongs to pid ${w.ownerPid}, not pid ${args.pid}: nothing was captured.`);
  }
  if (isAvailable(desktop, 'capture_streams')) {
    const bundle = expectedBundle(addon, args.pid, args.bundle_id);
    return { image: await addon.captureWindowImageVerifiedAsync(args.window_id, args.pid, bundle, format), path: 'verified' };
  }
  // No verified path here: the owner was checked above; capture it plainly.
  if (!w) refuse(`window ${args.window_id} is not on screen: list_windows shows the windows there are.`);
  return { image: addon.captureWindowImage(args.window_id, format), path: 'plain, owner checked' };
}

const screenshotTool = {
  name: 'screenshot',
  title: 'Screenshot a window',
  needs: ['captureWindowImage', 'captureWindowImageVerifiedAsync', 'screenCaptureProbeWindows', 'applicationInfo'],
  facilities: ['window_images'],
  description:
    'Captures a window as an image and states its pixel size, the window\'s bounds in screen points and the ' +
    'scale (image pixels per point). With pid the window must belong to that application. max_width / ' +
    'max_height scale the image down (the stated scale follows). click_at with coords:"image" and this ' +
    'window_id takes pixel coordinates of the image.',
  input: {
    window_id: windowId,
    pid: pid.optional(),
    bundle_id: bundleId.optional(),
    format: z.enum(['png', 'jpeg']).optional().describe('default png'),
    max_width: z.number().int().min(16).optional(),
    max_height: z.number().int().min(16).optional(),
  },
  annotations: READ,
  async run(session, args) {
    const { addon } = session;
    const format = args.format ?? 'png';
    const { image, path } = await capture(session, args, format);
    if (!image) {
      const status = addon.screenCaptureStatus();
      refuse(status === 'granted'
        ? `no image of window ${args.window_id}: the window is unknown or gone (list_windows shows the windows there are).`
        : `no image of window ${args.window_id}: screen recording is ${status} (see check_permissions).`);
    }
    const probed = image.bounds ? null : probeWindow(addon, args.window_id);
    const bounds = image.bounds || (probed ? boundsOf(probed) : null);
    let data = Buffer.from(image.data, 'base64');
    let { width, height } = await sharp()(data).metadata();
    if ((args.max_width && width > args.max_width) || (args.max_height && height > args.max_height)) {
      const out = sharp()(data).resize({ width: args.max_width, height: args.max_height, fit: 'inside' });
      data = await (image.format === 'jpeg' ? out.jpeg({ quality: 80 }) : out.png()).toBuffer();
      ({ width, height } = await sharp()(data).metadata());
    }
    const scale = bounds && bounds[2] > 0 ? Math.round((width / bounds[2]) * 1000) / 1000 : null;
    if (scale) session.scales.set(args.window_id, scale);
    const where = bounds
      ? `window at [${bounds.join(',')}] on screen (points), scale ${scale} px per point`
      : 'window bounds unknown (not on screen now), so no scale';
    return [
      { type: 'image', data: data.toString('base64'), mimeType: image.format === 'jpeg' ? 'image/jpeg' : 'image/png' },
      { type: 'text', text: `window ${args.window_id}: ${width}x${height} px ${image.format} (${path}); ${where}.` },
    ];
  },
};

module.exports = { screenshotTool, probeWindow, boundsOf };
