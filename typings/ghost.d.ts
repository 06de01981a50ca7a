// The ghost cursor overlay: one cursor per agent session that glides to each
// target, ripples on clicks, outlines focused elements and carries a badge.
// Argument checks are silent: a missing or mistyped argument answers false.
// A function taking a session stores it (or "") as the request session first.

/** Creates the overlay; whether overlay windows exist. */
export declare function ghostInit(): boolean;
/** Glides the request group's cursor to a point (no ripple). */
export declare function ghostShow(x: number, y: number, session?: string | null): boolean;
export declare function ghostMove(x: number, y: number, session?: string | null): boolean;
/** Glides to a point and plays a click ripple there. */
export declare function ghostClickRipple(x: number, y: number, session?: string | null): boolean;
/**
 * Glides to a point of a target (a process, or with windowId and exact one of
 * its windows); the cursor hides while that target is covered there. pid in
 * 1..2147483647, windowId an integer in 0..4294967295. The session is the
 * seventh argument.
 */
export declare function ghostMoveTarget(
  x: number, y: number, pid: number, windowId: number, exact?: boolean | null,
  unused?: unknown, session?: string | null,
): boolean;
export declare function ghostHide(session?: string | null): boolean;

export interface GhostFrame { x: number; y: number; width: number; height: number }

export interface GhostGroupState {
  key: string;
  /** Has its own session (not "default"). */
  multi: boolean;
  shown: boolean;
  idleAlpha: number;
  occlusionAlpha: number;
  feedbackAlpha: number;
  occlusionUncertainMisses: number;
  pendingRipple: boolean;
  placed: boolean;
  animating: boolean;
  screenIdx: number;
  badgeText: string;
  /** "#RRGGBB" */
  fillHex: string;
  x: number;
  y: number;
}

export interface GhostState {
  ready: boolean;
  enabled: boolean;
  shown: boolean;
  tracking: boolean;
  ripples: number;
  ignoresMouseEvents: boolean;
  multiCursorEnabled: boolean;
  displayGeneration: number;
  sessionCount: number;
  idleAlpha: number;
  occlusionAlpha: number;
  feedbackAlpha: number;
  occlusionUncertainMisses: number;
  pendingRipple: boolean;
  keyPulseActive: boolean;
  cue: 'none' | 'text' | 'key';
  controllerActive: boolean;
  windowOrderedIn: boolean;
  windowFrames: GhostFrame[];
  windowFrame: GhostFrame | null;
  groups: GhostGroupState[];
}
export declare function ghostState(): GhostState;
/**
 * Writes a width x height PNG (1..4096 each) of the overlay around the
 * request group's cursor, the tip at the centre; false when nothing could be
 * rendered or written.
 */
export declare function ghostRenderPng(path: string, width: number, height: number): boolean;
export declare function ghostSetEnabled(enabled: boolean): boolean;
/** Makes the overlay windows visible to screen capture (or not). */
export declare function ghostSetCapture(capturable: boolean): boolean;
/** A non-empty status keeps the overlay's timer running; empty or null clears it. */
export declare function ghostSetControllerStatus(status?: string | null): boolean;
/** kind 1: typing text (a ripple, pending until the end); anything else: a key press (a pulse). */
export declare function ghostBeginAction(kind: number, session?: string | null, title?: string | null): boolean;
export declare function ghostEndAction(session?: string | null): boolean;
export declare function ghostShowFocusRect(
  x: number, y: number, width: number, height: number, session?: string | null,
): boolean;
/** Sets the badge title of the session's cursor (sanitised, shortened to fit). */
export declare function ghostBeginActionWithTitle(title: string, session?: string | null): boolean;
export declare function ghostSetRequestSession(session: string | null): boolean;
export declare function ghostSetMultiCursorEnabled(enabled: boolean): boolean;
export declare function ghostSessionTurnEnd(session: string): boolean;
export declare function ghostRemoveSession(session: string): boolean;

export interface GhostRgb { r: number; g: number; b: number }
export interface GhostPaletteSelftest {
  palette: GhostRgb[];
  samples: Record<string, GhostRgb>;
  strokes: { pineapple: GhostRgb; blue: GhostRgb; raspberry: GhostRgb };
  indices: Record<string, number>;
  sanitize: Record<'control' | 'collapse' | 'trim' | 'cjk-keep' | 'long-cut', string>;
}
export declare function ghostPaletteSelftest(): GhostPaletteSelftest;

export interface GhostMotionSelftest {
  samples: { t: number; x: number; y: number; heading: number }[];
  arrived: boolean;
  finalX: number;
  finalY: number;
  arrivalTick: number;
  settledX: number;
  settledY: number;
  settled: boolean;
  settleArrivalTick: number;
  settleTicks: number;
  preemptMidX: number;
  preemptRestartX: number;
  fineDt: number;
  glideShortNatural: number; glideShortScale: number; glideShortElapsed: number;
  glideShortSettle: number; glideShortSettledX: number;
  glideLongNatural: number; glideLongScale: number; glideLongElapsed: number;
  glideLongSettle: number; glideLongSettledX: number;
  maxGlide: number;
}
export declare function ghostMotionSelftest(): GhostMotionSelftest;

export interface GhostGeometrySelftest {
  primary: number; leftScreen: number; aboveScreen: number; seam: number; nearest: number;
  mirrorIgnored: number;
  seedX: number; seedY: number; seedCornerX: number; seedCornerY: number;
  seedLeftX: number; seedLeftY: number; seedNoneX: number; seedNoneY: number;
}
export declare function ghostGeometrySelftest(): GhostGeometrySelftest;
