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

/** An export whose subsystem is not built yet: every call throws. */
export type NotImplementedYet = (...args: unknown[]) => never;

export declare const clickAtPoint: NotImplementedYet;
export declare const moveTo: NotImplementedYet;
export declare const scrollAt: NotImplementedYet;
export declare const drag: NotImplementedYet;
export declare const dragAsync: NotImplementedYet;
export declare const mouseDown: NotImplementedYet;
export declare const mouseUp: NotImplementedYet;
export declare const moveToPid: NotImplementedYet;
export declare const scrollToPid: NotImplementedYet;
export declare const dragToPid: NotImplementedYet;
export declare const mouseDownToPid: NotImplementedYet;
export declare const mouseUpToPid: NotImplementedYet;
export declare const setCpsActivationDisabled: NotImplementedYet;
export declare const beginBackgroundWindowInput: NotImplementedYet;
export declare const beginBackgroundWindowInputDetailed: NotImplementedYet;
export declare const endBackgroundWindowInput: NotImplementedYet;
export declare const clickToWindow: NotImplementedYet;
export declare const moveToWindow: NotImplementedYet;
export declare const scrollToWindow: NotImplementedYet;
export declare const dragToWindow: NotImplementedYet;
export declare const mouseDownToWindow: NotImplementedYet;
export declare const mouseUpToWindow: NotImplementedYet;
export declare const beginBackgroundWindowInputDetailedAsync: NotImplementedYet;
export declare const endBackgroundWindowInputAsync: NotImplementedYet;
export declare const endBackgroundWindowInputDetailedAsync: NotImplementedYet;
export declare const clickToWindowAsync: NotImplementedYet;
export declare const moveToWindowAsync: NotImplementedYet;
export declare const scrollToWindowAsync: NotImplementedYet;
export declare const dragToWindowAsync: NotImplementedYet;
export declare const mouseDownToWindowDetailedAsync: NotImplementedYet;
export declare const mouseUpToWindowAsync: NotImplementedYet;
