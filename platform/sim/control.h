// The control interface of the simulated desktop: named commands with JSON
// arguments (an array) answering JSON. desktop-sim (sim-control/) forwards to
// it, and C++ tests call it directly.
#pragma once

#include <string>

#include "sim/json.h"

namespace sim {

// Runs one command; on failure answers false with a message in *error.
bool RunCommand(const std::string& name, const Json& args, Json* result, std::string* error);
// Reader commands (element, apps, windows, events, ...), used by RunCommand.
bool RunReadCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                    bool* handled);
// Probe commands (probe.*): calls through the platform seam.
bool RunProbeCommand(const std::string& name, const Json& args, Json* result, std::string* error,
                     bool* handled);
// Text form: args is a JSON array; answers {"value": ...} or {"error": "..."}.
std::string RunCommandJson(const std::string& name, const std::string& args_json);

}  // namespace sim
