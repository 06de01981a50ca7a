// Typings of every export of the add-on. Families that are built have their
// own declaration files under typings/; the exports of families not built yet
// throw Error("<name> is not implemented yet") and are typed that way.

export * from './typings/capture';
export * from './typings/apps';
export * from './typings/actions';
export * from './typings/ghost';
export * from './typings/keyboard';
export * from './typings/pip';
export * from './typings/paste';
export * from './typings/mouse';
export * from './typings/background';

/** An export whose subsystem is not built yet: every call throws. */
export type NotImplementedYet = (...args: unknown[]) => never;

export declare const pipIsInteractionReady: NotImplementedYet;
export declare const pipGetWindowBounds: NotImplementedYet;
export declare const pipSetLiveLegacyCaptureDelay: NotImplementedYet;
export declare const pipGetLiveLegacyCaptureDiagnostics: NotImplementedYet;
export declare const pipGetStackTargets: NotImplementedYet;
export declare const pipStartInteractionTestPanel: NotImplementedYet;
export declare const pipMoveInteractionTestPanelToPoint: NotImplementedYet;
export declare const pipSampleInteractionOwnershipAtPoint: NotImplementedYet;
export declare const pipVerifyInitialHitSurface: NotImplementedYet;
export declare const pipEvaluateDoubleClickActivation: NotImplementedYet;
export declare const pipSimulateUserInputDisableReleaseRace: NotImplementedYet;
export declare const pipSimulateSyntheticAdmissionTimeoutFencing: NotImplementedYet;
export declare const pipSimulateSyntheticReservationInterleaving: NotImplementedYet;
export declare const pipSimulateForeignContinuationPassThrough: NotImplementedYet;
export declare const pipSimulatePersistentCaptureFailures: NotImplementedYet;
export declare const pipSimulateTimeoutDrainRecovery: NotImplementedYet;
