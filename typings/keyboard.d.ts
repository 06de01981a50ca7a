// Keyboard input: typing, key chords and key holds addressed to one process
// (optionally to one of its windows) or through the system to the frontmost
// application, and the cancellation of holds.
//
// Key chords are key names joined by "+": modifiers "command" (or "cmd",
// "\u2318"), "shift", "ctrl" ("control"), "alt" ("option"), and at most one
// other key: a letter, digit or main-block punctuation key, "enter"
// ("return"), "tab", "space", "backspace"/"delete", "forwarddelete", "esc"
// ("escape"), "capslock", "help", "home", "end", "pageup", "pagedown",
// "left", "right", "up", "down", "f1".."f16". Names are case-insensitive,
// blanks around them are ignored and "none" pieces are skipped; at most 8
// names and 128 bytes.

import type { AnyCase } from './mouse';

/** The modifier names and their aliases ("\u2318" is the command sign). */
export type ModifierName = 'command' | 'cmd' | '\u2318' | 'shift' | 'ctrl' | 'control' | 'alt' | 'option';
/** Every key name but the modifiers. */
export type KeyName =
  | 'a' | 'b' | 'c' | 'd' | 'e' | 'f' | 'g' | 'h' | 'i' | 'j' | 'k' | 'l' | 'm'
  | 'n' | 'o' | 'p' | 'q' | 'r' | 's' | 't' | 'u' | 'v' | 'w' | 'x' | 'y' | 'z'
  | '0' | '1' | '2' | '3' | '4' | '5' | '6' | '7' | '8' | '9'
  | '=' | '-' | ']' | '[' | "'" | ';' | '\\' | ',' | '/' | '.' | '`'
  | 'enter' | 'return' | 'tab' | 'space' | 'backspace' | 'delete' | 'forwarddelete'
  | 'esc' | 'escape' | 'capslock' | 'help' | 'home' | 'end' | 'pageup' | 'pagedown'
  | 'left' | 'right' | 'up' | 'down'
  | 'f1' | 'f2' | 'f3' | 'f4' | 'f5' | 'f6' | 'f7' | 'f8' | 'f9' | 'f10' | 'f11' | 'f12'
  | 'f13' | 'f14' | 'f15' | 'f16';
/**
 * A key chord: one key or modifier name alone (checked here), or names joined
 * by "+" starting with a modifier ("cmd+shift+4"), whose later names the run
 * time checks (false, or "invalid_key_chord" from the verified forms).
 */
export type KeyChord =
  | AnyCase<KeyName>
  | AnyCase<ModifierName>
  | `${AnyCase<ModifierName>}+${string}`;

/** Error codes of the verified per-process forms. */
export type KeyboardInputError =
  | 'text_too_long'
  | 'invalid_target'
  | 'invalid_key_chord'
  | 'rejected'
  | 'cancelled'
  | 'input_busy'
  | 'input_expired'
  | 'worker_error';

export interface KeyboardInputOutcome {
  ok: boolean;
  /** null exactly when ok is true. */
  error: KeyboardInputError | null;
}

/** A window number of the target process (1 .. 4294967295); null or undefined: none. */
export type KeyboardWindowId = number | null | undefined;

// ---- one process ----

/**
 * Types up to 1024 UTF-16 units into process `pid` without activating it.
 * Digits, line breaks and % * + - / = are sent as key presses of the current
 * keyboard layout, everything else as Unicode text in chunks of at most 20
 * units (never splitting a surrogate pair); "\r\n" is one Return. Resolves
 * false on any failure. Throws TypeError for wrong argument types.
 */
export function typeTextToPid(pid: number, text: string): Promise<boolean>;
/** Presses one chord (the key with its modifiers' flags, or modifiers alone). */
export function pressKeyToPid(pid: number, chord: KeyChord): Promise<boolean>;
/** Presses a chord, holds it `durationSeconds` (0 .. 30) and releases it. */
export function holdKeyToPid(pid: number, chord: KeyChord, durationSeconds: number): Promise<boolean>;

/**
 * As typeTextToPid, after checking that `pid` still is `expectedBundleId`
 * (compared ignoring case); with a window id the events are addressed to that
 * window of the process.
 */
export function typeTextToPidVerified(
  pid: number,
  expectedBundleId: string,
  text: string,
  windowId?: KeyboardWindowId,
): Promise<KeyboardInputOutcome>;
export function pressKeyToPidVerified(
  pid: number,
  expectedBundleId: string,
  chord: KeyChord,
  windowId?: KeyboardWindowId,
): Promise<KeyboardInputOutcome>;
/**
 * As holdKeyToPid, verified; a hold naming `sessionKey` ends early (and
 * resolves "cancelled") when cancelInputHoldsForSession(sessionKey) is called.
 */
export function holdKeyToPidVerified(
  pid: number,
  expectedBundleId: string,
  chord: KeyChord,
  durationSeconds: number,
  sessionKey?: string | null,
  windowId?: KeyboardWindowId,
): Promise<KeyboardInputOutcome>;

// ---- the system (frontmost application) ----
// All of these answer false at once while focus stealing is prevented
// (preventActivation), before their arguments are checked; wrong argument
// types throw TypeError (the call then answers false, or null for
// holdKeyGlobalAsync).

/** Types up to 1024 UTF-16 units: tab and line breaks as keys, the rest as Unicode runs. */
export function typeTextGlobal(text: string): boolean;
export function pressKeyGlobal(chord: KeyChord): boolean;
/** Holds a chord for 0 .. 30000 ms, blocking the calling thread meanwhile. */
export function holdKeyGlobal(chord: KeyChord, durationMs: number): boolean;
/** Holds a chord for 0 .. 30000 ms on a worker; resolves false when cancelled or refused. */
export function holdKeyGlobalAsync(chord: KeyChord, durationMs: number, sessionKey?: string | null): Promise<boolean>;
/** Presses a chord's modifiers in order, then its key, and leaves them down. */
export function keyDownGlobal(chord: KeyChord): boolean;
/** Releases a chord pushed with keyDownGlobal: the key, then the modifiers in reverse. */
export function keyUpGlobal(chord: KeyChord): boolean;

// ---- cancellation ----

/**
 * Cancels every running and future hold naming `sessionKey`, for the life of
 * the process; answers whether the key was newly cancelled (false for "").
 */
export function cancelInputHoldsForSession(sessionKey: string): boolean;
/**
 * Shuts keyboard and mouse input down for good: running holds end, every
 * later input request is refused. Answers whether it was not shut down yet.
 */
export function cancelPendingInputHolds(): boolean;
