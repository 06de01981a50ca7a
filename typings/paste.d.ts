// Provided paste: text put on the general pasteboard as one item whose data
// is provided lazily, so the host learns when, and how often, another
// application reads it. For one paste call, in this order: begin, mark
// dispatched (right before or after sending the paste keystroke), await the
// read, finish (which restores the previous contents unless somebody else
// wrote the pasteboard since).

/** "text": plain text; "html": plain text and HTML; "md": plain text and Markdown. */
export type ProvidedPasteFormat = 'text' | 'html' | 'md';

export interface ProvidedPasteBegin {
  ok: boolean;
  /** null exactly when ok is true. */
  error: 'unsupported_format' | 'pasteboard_write_failed' | null;
  /** Names the paste in the other calls; 0 on failure. */
  token: number;
}

export type ProvidedReadError =
  | 'unknown_paste_token'
  | 'pasteboard_read_timed_out'
  | 'pasteboard_changed_during_paste'
  | 'worker_error';

export interface ProvidedReadOutcome {
  ok: boolean;
  /** Reads answered so far (0 when no read came after dispatch). */
  reads: number;
  /** Reads before the paste was marked dispatched (0 when it never was). */
  readsBeforeDispatch: number;
  /** Whole milliseconds the await took (0 when no read came after dispatch). */
  holdMs: number;
  /** null exactly when ok is true. */
  error: ProvidedReadError | null;
}

/**
 * Saves the pasteboard's contents and puts `text` on it as one lazily
 * provided item. Throws TypeError unless both arguments are strings; any
 * format other than exactly "text", "html" or "md" answers
 * "unsupported_format" and touches nothing.
 */
export function pasteboardBeginProvidedPaste(text: string, format: ProvidedPasteFormat): ProvidedPasteBegin;

/** Notes how many reads came before the dispatch; false for an unknown token. */
export function pasteboardMarkProvidedPasteDispatched(token: number): boolean;

/**
 * Waits up to `timeoutMs` (1..30000, default 2000) for a read after dispatch,
 * then until `graceMs` (0..2000, default 400) pass without a read and at
 * least `holdMs` (0..5000, default 1200) after the first one (never more
 * than 30 s after it). Values are truncated; out of range takes the default.
 * Always resolves; at most 4 awaits run at once, further ones resolve at once
 * with "worker_error".
 */
export function pasteboardAwaitProvidedRead(
  token: number,
  timeoutMs?: number,
  graceMs?: number,
  holdMs?: number,
): Promise<ProvidedReadOutcome>;

/**
 * Forgets the paste and restores the pasteboard's previous contents if
 * nobody else wrote it since the paste. True for known and unknown tokens.
 */
export function pasteboardFinishProvidedPaste(token: number): boolean;
