// Typings of every export of the add-on, one declaration file per family
// under typings/.

export * from './typings/capture';
export * from './typings/apps';
export * from './typings/actions';
export * from './typings/ghost';
export * from './typings/keyboard';
export * from './typings/pip';
export * from './typings/paste';
export * from './typings/mouse';
export * from './typings/background';
