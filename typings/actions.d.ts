// Element reading, hit-testing and actions; trust, identity and permissions;
// application and surface activation.

/// <reference types="node" />
import type { EncodedImage } from './apps';

export type AxErrorName =
  | 'failure'
  | 'illegal_argument'
  | 'invalid_element'
  | 'invalid_observer'
  | 'cannot_complete'
  | 'attribute_unsupported'
  | 'action_unsupported'
  | 'notification_unsupported'
  | 'not_implemented'
  | 'api_disabled'
  | 'no_value'
  | 'parameterized_unsupported'
  | 'precision';

export interface AxOutcome {
  ok: boolean;
  axError: AxErrorName | null;
}

export interface PressFocusDiagnostics {
  guardEngaged: boolean;
  frontmostPid: number;
  axFocusedPidBefore: number;
  axFocusedPidAfterSet: number;
  axFocusedPidAfterPress: number;
  focusSetStatus: AxErrorName | null;
  /** 1 true, 0 false, -1 unreadable (likewise for the other tri-state readings). */
  appFrontmostBefore: number;
  appFrontmostAfterSet: number;
  appFrontmostAfterPress: number;
  elementFocusedBefore: number;
  elementSelectedBefore: number;
  elementSelectedAfterPress: number;
  msSinceKeyboardEnd: number;
  pressMs: number;
}

export interface ActionOutcome extends AxOutcome {
  /** Present for "AXPress" on an element whose pid is known. */
  pressFocusDiagnostics?: PressFocusDiagnostics;
}

export interface SingleElement {
  ref: string;
  role: string;
  subrole?: string;
  title?: string;
  description?: string;
  value?: string;
  bounds: [number, number, number, number];
  enabled: boolean;
  focused: boolean;
  selected?: boolean;
  selected_text_range?: [number, number];
  actions: ActionName[];
  editable: boolean;
  ownerPid?: number;
}

export interface PointApplicationInfo {
  pid: number;
  bundle_id: string | null;
  name: string | null;
  active: boolean;
}

export interface ClickElementResult {
  ok: boolean;
  method: 'no_element' | 'not_trusted' | 'no_system_wide' | 'wrong_owner' | 'ax_press' | 'ax_error';
  pid: number;
  screenshot?: EncodedImage;
}

/** The element a token names, read now; null for an unknown or released token. See docs/api/actions.md. */
export function readElement(ref: string): SingleElement | null;
/** Throws TypeError for non-number or non-finite coordinates. */
export function elementAtPoint(x: number, y: number): SingleElement | null;
/** Throws TypeError for non-number or non-finite coordinates. */
export function policyIdentityAtPoint(x: number, y: number): PointApplicationInfo | null;
/** Throws TypeError for bad coordinates or a clickCount outside 1..3. */
export function clickElementAtPoint(
  x: number,
  y: number,
  clickCount?: number,
  includeScreenshot?: boolean,
  format?: string,
  expectedPid?: number,
): ClickElementResult | null;
/**
 * The action names the backends know. An element's `actions` list names what
 * it offers; a name outside this list (an AT-SPI action of exactly that name
 * on x11, say) is passed as `OtherActionName`: `'click' as OtherActionName`.
 */
export type KnownActionName =
  | 'AXPress' | 'AXIncrement' | 'AXDecrement' | 'AXConfirm' | 'AXCancel' | 'AXShowMenu'
  | 'AXRaise' | 'AXPick' | 'AXScrollToVisible' | 'AXShowAlternateUI' | 'AXShowDefaultUI';
/** Any other action name, marked as such so that a misspelt known name does not compile. */
export type OtherActionName = string & { readonly __otherActionName: unique symbol };
export type ActionName = KnownActionName | OtherActionName;
/**
 * Performs an accessibility action the element offers (its `actions`);
 * `{ok: false, axError}` on failure (`invalid_element`, `action_unsupported`, ...).
 */
export function performAction(ref: string, action: ActionName): ActionOutcome;
/** Sets the element's value (a text field's text); `attribute_unsupported` when not settable. */
export function setValue(ref: string, text: string): AxOutcome;
/** Gives the element keyboard focus within its application (not activated). */
export function setFocused(ref: string): AxOutcome;
/** Selects `length` UTF-16 units from `location` of an editable element's text. */
export function selectText(ref: string, location: number, length: number): AxOutcome;
/** The number of the window holding the element; null for an unknown token. */
export function getWindowId(ref: string): number | null;

export interface PeerCredentials {
  uid: number;
  pid: number;
  /** 32 bytes: eight little-endian words auid, euid, egid, ruid, rgid, pid, asid, pidversion. */
  auditToken: Buffer;
}

export interface CodeSigningSummary {
  teamIdentifier: string | null;
  identifier: string | null;
}

export function isTrusted(): boolean;
export function promptTrust(): boolean;
export function probeAccessibility(): boolean;
export function probeAccessibilityStatus(): AxOutcome;
export function getPeerCredentials(fd: number): PeerCredentials | null;
export function parentProcessPid(pid: number): number;
export function responsibleProcessPid(pid: number): number;
export function peerCodeSigningSummary(auditToken: Buffer): CodeSigningSummary | null;
export function verifyProcessCodeSignature(pid: number, requirement: string): boolean;
export function verifyProcessCodeSignatureWithAuditToken(auditToken: Buffer, requirement: string): boolean;
export function screenCaptureStatus(): 'granted' | 'denied' | 'unknown';
export function requestScreenCaptureAccess(): boolean;
export function readTccDbGranted(service: string, client: string): boolean;

export interface FrameSurfaceTarget {
  logicalPid: number;
  logicalBundleId: string;
  presentationWindowId: number;
  actualOwnerPid: number;
  actualOwnerBundleId: string;
  actualWindowId: number;
  surfaceKind: 'open_panel' | 'save_panel' | 'attached_dialog';
}

export interface FrameSurfaceResult {
  ok: boolean;
  reason:
    | 'invalid_target'
    | 'not_trusted'
    | 'focus_prevented'
    | 'identity_mismatch'
    | 'presentation_unavailable'
    | 'lineage_unverified'
    | 'surface_unavailable'
    | 'focus_mismatch'
    | 'activated';
  logical_pid?: number;
  presentation_window_id?: number;
  actual_owner_pid?: number;
  actual_window_id?: number;
  surface_kind?: string;
  foreground_pid_before?: number;
  foreground_pid_after?: number;
  focused_window_id?: number;
}

export function preventActivation(): true;
export function reenableActivation(): true;
export function isFocusStealPrevented(): boolean;
/** Throws TypeError when pid is not a number. */
export function activateApplication(pid: number): boolean | null;
/** Throws TypeError unless the arguments are number, string, number. */
export function activateWindow(pid: number, expectedBundleId: string, windowId: number): boolean | null;
/** Throws TypeError when the target is missing, not an object, or an array. */
export function activateAppFrameSurface(target: FrameSurfaceTarget): FrameSurfaceResult;
