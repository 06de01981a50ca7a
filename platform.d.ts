// Typings of require('automation-addon/platform').

/** A facility the add-on's core uses, as a backend declares it. */
export type Facility =
  | 'accessibility' | 'element_actions' | 'window_list' | 'displays' | 'applications'
  | 'window_images' | 'capture_streams' | 'global_keyboard' | 'global_mouse'
  | 'keyboard_to_process' | 'mouse_to_process' | 'mouse_to_background_window' | 'pasteboard' | 'overlay_windows'
  | 'event_taps' | 'event_swallowing' | 'keyboard_layout' | 'permissions_database'
  | 'code_signing' | 'window_event_masks';

/**
 * `available`; `unavailable` on this desktop (the reason says why, e.g. no
 * compositing manager); `not_built` in this backend yet.
 */
export type Support = 'available' | 'unavailable' | 'not_built';

export interface Capability {
  status: Support;
  /** Present when the status is not `available`. */
  reason?: string;
}

export interface DesktopDescription {
  /** The backend the add-on drives in this process. */
  backend: 'sim' | 'x11';
  /** Facts about the desktop: `display`, `x_server_vendor`, `accessibility_bus`, ... (all text). */
  facts: Record<string, string>;
  /** One entry per facility. */
  capabilities: Record<Facility, Capability>;
}

/**
 * The chosen backend, its desktop facts and capability table. The backend is
 * chosen once per process, as the add-on chooses it. Throws an `Error` saying
 * what was asked, what is missing and what to do when there is no desktop to
 * drive (the same message loading the add-on fails with).
 */
export function describe(): DesktopDescription;

/** Whether a facility is available; throws a `TypeError` for an unknown name. */
export function isAvailable(facility: Facility): boolean;

/** Every facility, in the table's order. */
export const FACILITIES: readonly Facility[];
