// Background window input: mouse input into one window of an application
// that stays in the background, without moving the user's pointer or
// changing the frontmost application. Each mouse operation opens a synthetic
// focus session on the window, posts window-addressed events and closes the
// session; an explicit session (begin ... end) brackets window-addressed
// typing (typeTextToPidVerified with a window id). One background operation
// runs at a time. Promises always resolve.
//
// Every export starts with the target: pid, expected bundle id, window id
// and the window's bounds [x, y, width, height] as the host last saw them.
// Points must lie inside those bounds. Button names and directions are
// matched exactly.

import type { MouseButton, Direction } from './mouse';

export type WindowBounds = [x: number, y: number, width: number, height: number];

export type BackgroundInputReason =
  | 'invalid_target'
  | 'session_busy'
  | 'input_busy'
  | 'worker_queue_failed'
  | 'worker_error'
  | 'input_expired'
  | 'accessibility_untrusted'
  | 'skylight_unavailable'
  | 'bundle_mismatch'
  | 'window_missing'
  | 'owner_mismatch'
  | 'window_offscreen'
  | 'bounds_mismatch'
  | 'get_process_failed'
  | 'focus_record_failed'
  | 'session_mismatch'
  | 'action_failed'
  | 'unfocus_record_failed'
  | 'frontmost_changed'
  | 'cursor_moved'
  | 'event_source_unavailable'
  | 'event_allocation_failed'
  | 'begin_rejected'
  | 'post_dispatch_invariant_changed'
  | 'async_required';

export type SkyLightEntryName =
  | 'SLEventPostToPid'
  | 'SLEventSetIntegerValueField'
  | 'CGEventSetWindowLocation'
  | 'SLPSPostEventRecordTo'
  | 'GetProcessForPID';

export interface BackgroundBeginOutcome {
  ok: boolean;
  reason: BackgroundInputReason | null;
  /** Status of a refused focus record. */
  native_status: number | null;
  /** Activation events posted (0, 1 or 3); -1 when the routine did not run. */
  cps_activation_pair: number;
  pid: number;
  window_id: number;
  expected_bounds: WindowBounds | null;
  live_owner_pid: number | null;
  live_on_screen: boolean | null;
  live_on_screen_list: boolean | null;
  live_bounds: WindowBounds | null;
  missing_symbols: SkyLightEntryName[];
}

export interface BackgroundEndOutcome {
  ok: boolean;
  reason: BackgroundInputReason | null;
  native_status: number | null;
  pid: number;
  window_id: number;
  original_frontmost_pid: number | null;
  live_frontmost_pid: number | null;
  original_cursor: [x: number, y: number] | null;
  live_cursor: [x: number, y: number] | null;
}

export interface BackgroundMouseDownOutcome {
  ok: boolean;
  delivery_state: 'definitely_unsent' | 'down_posted_or_ambiguous';
  reason: BackgroundInputReason | null;
}

export function beginBackgroundWindowInputDetailedAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds, allowOffscreen?: boolean,
): Promise<BackgroundBeginOutcome>;
export function endBackgroundWindowInputAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds, allowOffscreen?: boolean,
): Promise<boolean>;
export function endBackgroundWindowInputDetailedAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds, allowOffscreen?: boolean,
): Promise<BackgroundEndOutcome>;
/**
 * Clicks 1..3 times at (x, y) inside the window. True also when the user
 * moved the pointer or switched applications meanwhile.
 */
export function clickToWindowAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds,
  x: number, y: number, button: MouseButton, clicks: number, modifiers: string | null,
  allowOffscreen?: boolean,
): Promise<boolean>;
export function moveToWindowAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds,
  x: number, y: number, allowOffscreen?: boolean,
): Promise<boolean>;
/** A pixel scroll of delta 0..100 (0: true, nothing posted). */
export function scrollToWindowAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds,
  x: number, y: number, delta: number, direction: Direction, allowOffscreen?: boolean,
): Promise<boolean>;
export function dragToWindowAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds,
  fromX: number, fromY: number, toX: number, toY: number, button: MouseButton,
  modifiers: string | null, allowOffscreen?: boolean,
): Promise<boolean>;
export function mouseDownToWindowDetailedAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds,
  x: number, y: number, button: MouseButton, allowOffscreen?: boolean,
): Promise<BackgroundMouseDownOutcome>;
export function mouseUpToWindowAsync(
  pid: number, bundleId: string, windowId: number, bounds: WindowBounds,
  x: number, y: number, button: MouseButton, allowOffscreen?: boolean,
): Promise<boolean>;

/** Synchronous begin is not supported: ok false, reason "async_required" (or "invalid_target"). */
export function beginBackgroundWindowInputDetailed(...args: unknown[]): BackgroundBeginOutcome;
/** Retired synchronous forms: always false. */
export function beginBackgroundWindowInput(...args: unknown[]): false;
export function endBackgroundWindowInput(...args: unknown[]): false;
export function clickToWindow(...args: unknown[]): false;
export function moveToWindow(...args: unknown[]): false;
export function scrollToWindow(...args: unknown[]): false;
export function dragToWindow(...args: unknown[]): false;
export function mouseDownToWindow(...args: unknown[]): false;
export function mouseUpToWindow(...args: unknown[]): false;

/**
 * Turns the activation routine of background sessions off (true) or on.
 * True after storing; false, flag unchanged, without a boolean.
 */
export function setCpsActivationDisabled(disabled: boolean): boolean;
