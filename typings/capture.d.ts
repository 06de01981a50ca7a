// Accessibility snapshots, reference tokens and capture epochs.

import type { ActionName } from './actions';

/** [x, y, width, height] in global points, integers. */
export type SnapshotBounds = [number, number, number, number];

export interface SnapshotApp {
  pid: number;
  bundle_id: string | null;
  name: string | null;
  active: boolean;
}

export interface SnapshotWindow {
  title: string | null;
  bounds: SnapshotBounds;
  window_id: number | null;
  /** Present only when known. */
  presentation_window_id?: number;
  main: boolean;
  focused: boolean;
  /** Present (true) only when a requested window id was not honoured. */
  window_id_fallback?: true;
  /** Present only when the capture is empty. */
  empty_capture_reason?: 'cg-only-no-ax-window' | 'ax-window-empty-tree';
}

export interface SnapshotElement {
  /** Reference token, "axh-<n>". */
  ref: string;
  role: string;
  subrole?: string;
  title?: string;
  description?: string;
  value?: string;
  bounds: SnapshotBounds;
  enabled: boolean;
  focused: boolean;
  selected?: boolean;
  default_action: boolean;
  editable: boolean;
  ownerPid: number;
  actions: ActionName[];
  /** Present only when at least one child was collected. */
  children?: SnapshotElement[];
  /** Set together when fewer children were collected than the element has. */
  children_total?: number;
  children_offset?: number;
}

export type SurfaceKind = 'window' | 'open_panel' | 'save_panel' | 'popover' | 'attached_dialog';

export interface SnapshotSurface {
  actual_window_id: number;
  presentation_window_id: number;
  surface_kind: SurfaceKind;
  relation: 'presentation_root' | 'ax_descendant';
  owner_pid: number;
  bounds: SnapshotBounds;
}

export interface AppSnapshot {
  app: SnapshotApp;
  window: SnapshotWindow;
  elements: SnapshotElement[];
  surfaces: SnapshotSurface[];
  capture_epoch: number;
  /** Present only for an empty capture. */
  empty_capture_diagnostics?: string;
}

export type CapturePhase =
  | 'admitted' | 'worker_started' | 'capture_lock' | 'accessibility_check' | 'identity_check'
  | 'application_create' | 'cg_window_scan' | 'accessibility_warm' | 'window_resolve'
  | 'window_stabilize' | 'window_metadata' | 'tree_traversal' | 'menu_traversal'
  | 'final_identity_check' | 'app_snapshot' | 'native_complete' | 'unknown';

export type CaptureOperation =
  | 'none' | 'capture_mutex_wait' | 'trust_probe' | 'process_identity' | 'create_application'
  | 'cg_window_scan' | 'set_attribute:AXManualAccessibility'
  | 'set_attribute:AXEnhancedUserInterface' | 'copy_attribute:AXRole' | 'copy_attribute:AXSubrole'
  | 'copy_attribute:AXTitle' | 'copy_attribute:AXDescription' | 'copy_attribute:AXTitleUIElement'
  | 'copy_attribute:AXHelp' | 'copy_attribute:AXIdentifier' | 'copy_attribute:AXValue'
  | 'copy_attribute:AXPosition' | 'copy_attribute:AXSize' | 'copy_attribute:AXEnabled'
  | 'copy_attribute:AXFocused' | 'copy_attribute:AXMain' | 'copy_attribute:AXChildren'
  | 'copy_attribute:AXFocusedWindow' | 'copy_attribute:AXMainWindow' | 'copy_attribute:AXWindows'
  | 'copy_attribute:AXParent' | 'copy_attribute:AXMenuBar' | 'copy_action_names'
  | 'copy_multiple_attribute_values' | 'is_attribute_settable:AXValue' | 'get_window_id'
  | 'app_snapshot' | 'unknown';

export interface CaptureDiagnostic {
  pid: number;
  window_id: number | null;
  phase: CapturePhase;
  last_ax_operation: CaptureOperation;
  nodes_visited: number;
  elapsed_ms: number;
  deadline_exceeded: boolean;
}

/** Captures on the calling thread; marks the epoch delivered. Never throws. */
export function captureApp(pid: number, windowId?: number): AppSnapshot | null;
/** Captures on a worker; acknowledge the epoch with ackCaptureEpoch. Never rejects. */
export function captureAppAsync(
  pid: number,
  expectedBundleId?: string | null,
  windowId?: number | null
): Promise<AppSnapshot | null>;
/** Where an in-flight asynchronous capture of (pid, windowId) is; null when none. */
export function captureAppDiagnostic(pid: number, windowId?: number | null): CaptureDiagnostic | null;
/** Marks a committed capture as received; false for bad arguments or unknown epochs. */
export function ackCaptureEpoch(pid: number, epoch: number): boolean;
/** Releases a capture's tokens; true unless the arguments are bad. */
export function releaseCaptureEpoch(pid: number, epoch: number): boolean;
