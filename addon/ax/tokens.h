// Reference tokens ("axh-<n>") naming retained accessibility elements, and
// the capture epochs that scope their lives. Every table is guarded by
// g_mutex (shared with the capture's pid-mutex and warmed-identity tables).
// The tables themselves are declared in token_table.h (free of Node-API).
#pragma once

#include <napi.h>

#include "ax/token_table.h"

namespace addon {

// Resolves the call's first argument as a token.
bool ResolveRef(const Napi::CallbackInfo& info, platform::AXElement* out);

}  // namespace addon
