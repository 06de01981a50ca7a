// Mouse input: clicks, moves, scrolls, drags and button presses through the
// system (they act on whatever is under the point and move the user's
// pointer) or into one process (the pointer stays where it is).
//
// Buttons are "left", "right" or "middle" (blanks and case are ignored);
// scroll directions "up", "down", "left" or "right". Modifiers are key
// names joined by "+" ("cmd+shift"); only modifier names count. Wrong
// argument types and out-of-range values throw a TypeError; everything else
// (not trusted, the left button busy, focus stealing prevented, an event the
// platform refused) answers false.

/** A name in lower case, capitalised or in capitals (the run time ignores case). */
export type AnyCase<T extends string> = T | Capitalize<T> | Uppercase<T>;
export type MouseButton = 'left' | 'right' | 'middle';
export type Direction = 'up' | 'down' | 'left' | 'right';
export type MouseButtonName = AnyCase<MouseButton>;
export type ScrollDirection = AnyCase<Direction>;

// ---- through the system ----

/**
 * Clicks `clicks` times (1..3) at (x, y). Without a modifiers string (or
 * with an empty one) the click carries the modifier keys the user holds.
 * `ghostPid` / `ghostWindowId` name the target the ghost cursor should show.
 * False at once while focus stealing is prevented, or while the left button
 * is held by mouseDown or another mouse sequence runs.
 */
export function clickAtPoint(
  x: number,
  y: number,
  button: MouseButtonName,
  clicks: number,
  modifiers?: string,
  ghostPid?: number,
  ghostWindowId?: number,
): boolean;
/**
 * Moves the pointer to (x, y); with the ghost cursor enabled only the ghost
 * moves. While mouseDown("left") holds the button the move drags it.
 */
export function moveTo(x: number, y: number, ghostPid?: number, ghostWindowId?: number): boolean;
/** A pixel scroll of `delta` (integer 1..100) at (x, y). */
export function scrollAt(
  x: number,
  y: number,
  delta: number,
  direction: ScrollDirection,
  ghostPid?: number,
  ghostWindowId?: number,
): boolean;
/** Arguments of drag and dragAsync. */
export type GlobalDragArguments = [
  fromX: number,
  fromY: number,
  toX: number,
  toY: number,
  button: MouseButtonName,
  modifiers?: string,
  ghostPid?: number,
  ghostWindowId?: number,
];
/**
 * Presses at `from`, drags in ten steps to `to` and releases there; blocks
 * the host thread for about a third of a second. False when another input
 * sequence runs.
 */
export function drag(...args: GlobalDragArguments): boolean;
/** drag on an input worker; bad values resolve false instead of throwing. */
export function dragAsync(...args: GlobalDragArguments): Promise<boolean>;
/**
 * Presses the button where the ghost cursor is heading (when it is shown),
 * else at the pointer. mouseDown("left") holds the left button until
 * mouseUp("left"); meanwhile global clicks, scrolls and drags answer false.
 */
export function mouseDown(button: MouseButtonName): boolean;
/** Releases the button; "left" only after mouseDown("left"). */
export function mouseUp(button: MouseButtonName): boolean;

// ---- one process (the pointer does not move) ----

export function moveToPid(pid: number, x: number, y: number): boolean;
export function scrollToPid(
  pid: number,
  x: number,
  y: number,
  delta: number,
  direction: ScrollDirection,
): boolean;
export function dragToPid(
  pid: number,
  fromX: number,
  fromY: number,
  toX: number,
  toY: number,
  button: MouseButtonName,
  modifiers?: string,
): boolean;
/** Presses the button at the pointer's location, in process `pid`. */
export function mouseDownToPid(pid: number, button: MouseButtonName): boolean;
export function mouseUpToPid(pid: number, button: MouseButtonName): boolean;
