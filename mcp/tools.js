'use strict';
// The tool table: each tool names the add-on exports it calls (`needs`), the
// desktop facilities it cannot work without (`facilities`) and those its pid
// form needs on top (`pidFacilities`), a title, its input schema, its hints
// (read-only, destructive, open world) and a handler `run(session, args)`.
// The server registers a tool only when every export it needs is built and
// every facility is available on the desktop it drives
// (require('automation-addon/platform')); a pid form whose facility is
// missing is refused with the reason before any call.
//
// Handlers decide nothing the add-on decides: argument limits, key names and
// every refusal come from the add-on's answers, passed on with the export's
// name and worded with a next step.
const { READ_TOOLS, DEFAULT_MAX_CHARS } = require('./tools-read');
const { ACT_TOOLS } = require('./tools-act');
const { INPUT_TOOLS } = require('./tools-input');
const { ToolRefusal } = require('./session');

const TOOLS = [...READ_TOOLS, ...ACT_TOOLS, ...INPUT_TOOLS];

module.exports = { TOOLS, ToolRefusal, DEFAULT_MAX_CHARS };
