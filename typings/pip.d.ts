// Mirroring panels: starting, stopping and querying them.

/** Legacy start of a mirror of one window id (no identity check). */
export declare function pipStart(windowId: number, width?: number | null, height?: number | null): boolean;
/** The synchronous verified start is not offered: always false. */
export declare function pipStartVerified(...args: unknown[]): false;
/** Verified start; resolves whether a panel now shows the window (never rejects). */
export declare function pipStartVerifiedAsync(
  windowId: number, pid: number, bundleId: string,
  width?: number | null, height?: number | null, group?: string | null): Promise<boolean>;
/** As pipStartVerifiedAsync, keyed by the presentation window, capturing the actual window. */
export declare function pipStartVerifiedCompositeAsync(
  presentationWindowId: number, actualWindowId: number, pid: number, bundleId: string,
  width?: number | null, height?: number | null, group?: string | null): Promise<boolean>;
export declare function pipStop(): true;
export declare function pipDismiss(): true;
export declare function pipIsRunning(): boolean;
/** Throws a TypeError unless given (number, number, string). */
export declare function pipStopTarget(windowId: number, pid: number, bundleId: string): boolean;
export interface PipLeadTarget { window_id: number; pid: number; bundle_id: string }
export declare function pipGetLeadTarget(): PipLeadTarget | null;
export declare function pipStackCount(): number;
export declare function pipSetActiveGroup(group: string): true;
export declare function pipBeginTurn(group: string): true;
export declare function pipTaskCompleted(group: string, success: boolean): true;
export declare function pipFreezeGroup(group: string): true;
export declare function pipIsDismissed(): boolean;
export declare function pipClearDismissed(): true;
export declare function pipSetEnabled(on: boolean): true;

/** The lead panel is running and its interaction monitor is ready. */
export declare function pipIsInteractionReady(): boolean;

// ---- live diagnostics and fixtures: present only while KORVO_OZA_LIVE_NATIVE is "1" ----
export interface PipWindowBounds { window_id: number; x: number; y: number; width: number; height: number }
/** The lead panel's window (global top-left points); null without a running lead. */
export declare const pipGetWindowBounds: (() => PipWindowBounds | null) | undefined;
/** Milliseconds (0..10000) slept before each legacy capture; false for another value. */
export declare const pipSetLiveLegacyCaptureDelay: ((ms: number) => boolean) | undefined;
export interface PipLegacyCaptureDiagnostics { active: boolean; attempts: number; completions: number }
export declare const pipGetLiveLegacyCaptureDiagnostics: (() => PipLegacyCaptureDiagnostics) | undefined;
export interface PipStackTarget {
  panel_window_id: number; window_id: number; presentation_window_id: number; pid: number;
  bundle_id: string; group: string | null; running: boolean; group_hidden: boolean;
  completed: boolean; badge_shown: boolean; lead: boolean;
}
/** Every panel, front to back. */
export declare const pipGetStackTargets: (() => PipStackTarget[]) | undefined;
/** Stops every panel and shows one that captures nothing (width 0..1920, height 0..1080). */
export declare const pipStartInteractionTestPanel: ((width?: number, height?: number) => boolean) | undefined;
/** Moves the test panel's top-left corner; throws a TypeError without finite x, y. */
export declare const pipMoveInteractionTestPanelToPoint: ((x: number, y: number) => boolean) | undefined;
/** Asks the window server at the point now; whether the lead panel is frontmost there. */
export declare const pipSampleInteractionOwnershipAtPoint:
  ((x: number, y: number, requiresNoUnderlay?: boolean) => boolean) | undefined;
export declare const pipVerifyInitialHitSurface:
  (() => { panel_hit_testable: boolean; windowserver_frontmost: boolean }) | undefined;
/** Whether a release with that click count, that far from its press, activates the target. */
export declare const pipEvaluateDoubleClickActivation:
  ((clickCount: number, startX: number, startY: number, endX: number, endY: number) => boolean) | undefined;
/** Each replays one race against the lead panel on the main thread: whether it behaved. */
export declare const pipSimulateUserInputDisableReleaseRace: (() => boolean) | undefined;
export declare const pipSimulateSyntheticAdmissionTimeoutFencing: (() => boolean) | undefined;
export declare const pipSimulateSyntheticReservationInterleaving: (() => boolean) | undefined;
export declare const pipSimulateForeignContinuationPassThrough: (() => boolean) | undefined;
export declare const pipSimulatePersistentCaptureFailures: (() => boolean) | undefined;
export declare const pipSimulateTimeoutDrainRecovery: (() => boolean) | undefined;
