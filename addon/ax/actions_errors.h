// Names of the platform's accessibility error codes as they cross the
// boundary in outcome objects ("axError").
#pragma once

#include <cstdint>

namespace addon {

// The error's name, or nullptr for success. Unknown non-zero codes (and the
// two notification-registration codes) are "failure".
const char* AxErrorName(int32_t code);

}  // namespace addon
