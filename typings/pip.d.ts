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
