// Applications, windows, displays, window capture and image records.

/** An encoded image: PNG or JPEG bytes as Base64 text. */
export interface EncodedImage {
  format: 'png' | 'jpeg';
  data: string;
}

/** An encoded window capture with where its content lies on screen. */
export interface VerifiedWindowImage extends EncodedImage {
  /** [x, y, width, height] in global points. */
  bounds: [number, number, number, number];
}

export interface ApplicationRecord {
  pid: number;
  name: string | null;
  bundle_id: string | null;
  active: boolean;
}

export interface WindowEntry {
  index: number;
  title: string | null;
  subrole?: string;
  text_preview?: string;
  /** [x, y, width, height], integers. */
  bounds: [number, number, number, number];
  window_id: number | null;
  main: boolean;
  focused: boolean;
  onscreen: boolean;
}

export interface ProbeWindow {
  windowId: number;
  ownerPid: number;
  layer: number;
  ownerBundleId: string | null;
  ownerName: string | null;
  ownerActive: boolean;
  title: string | null;
  bounds: { x: number; y: number; width: number; height: number };
  onScreen: true;
  /** Present only when the window server answered. */
  acceptsLeftMouseDown?: boolean;
}

export interface PngContentStats {
  width: number;
  height: number;
  sampleWidth: number;
  sampleHeight: number;
  sampledPixelCount: number;
  visiblePixelCount: number;
  distinctColorBucketCount: number;
  dominantColorPixelCount: number;
  maxChannelRange: number;
  minVisibleChannel: number;
  maxVisibleChannel: number;
}

export interface DisplayRecord {
  id: number;
  /** [x, y, width, height] in global points, not rounded. */
  bounds: [number, number, number, number];
  main: boolean;
  scale_factor: number;
}

export type Rect4 = [number, number, number, number];

/** The running applications a user sees; `active` marks the frontmost. */
export function listApplications(): ApplicationRecord[];
/** One process's record; null when it does not run. Throws TypeError for a non-number pid. */
export function applicationInfo(pid: number): ApplicationRecord | null;
/** Resolves a 32 x 32 PNG as Base64 text, or null. */
export function applicationIconPngAsync(pid: number): Promise<string | null>;
export function openApplicationInBackground(bundleId?: string | null, name?: string | null): boolean;
/** Resolves the launched application's pid, or a boolean when there is none. */
export function openApplicationInBackgroundAsync(
  bundleId?: string | null,
  name?: string | null,
): Promise<number | boolean>;
export function terminateApplicationVerified(pid: number, expectedBundleId: string): boolean;

export function screenCaptureProbeWindows(): ProbeWindow[];
export function inspectPngContent(bytes: Uint8Array | Uint8ClampedArray): PngContentStats | null;
/** The windows of one application; [] for an unknown pid, null when pid is not a number. */
export function listWindows(pid: number): WindowEntry[] | null;
/** The active displays, bounds in global points; `main` marks the main display. */
export function displays(): DisplayRecord[];
/** The pointer's location in global points. */
export function cursorPoint(): { x: number; y: number };

/** format "jpeg" or "jpg" selects JPEG, anything else PNG; quality (JPEG) defaults to 0.6. */
export function captureWindowImage(windowId: number, format?: string, quality?: number): EncodedImage | null;
/** Always null. */
export function captureWindowImageVerified(...args: unknown[]): null;
export function captureWindowImageVerifiedAsync(
  windowId: number,
  pid: number,
  bundleId: string,
  format?: string,
  quality?: number,
): Promise<VerifiedWindowImage | null>;
/** Present only when KORVO_OZA_LIVE_NATIVE is exactly "1" (undefined otherwise). */
export declare const projectFrameContentForTest:
  | ((
      content: Rect4,
      screen: Rect4,
      imageWidth: number,
      imageHeight: number,
      contentScale: number,
      scaleFactor: number,
    ) => { crop: Rect4; pointer: Rect4 } | null)
  | undefined;
