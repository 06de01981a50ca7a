#include "ax/actions_errors.h"

namespace addon {

const char* AxErrorName(int32_t code) {
  switch (code) {
    case 0:
      return nullptr;
    case -25201:
      return "illegal_argument";
    case -25202:
      return "invalid_element";
    case -25203:
      return "invalid_observer";
    case -25204:
      return "cannot_complete";
    case -25205:
      return "attribute_unsupported";
    case -25206:
      return "action_unsupported";
    case -25207:
      return "notification_unsupported";
    case -25208:
      return "not_implemented";
    case -25211:
      return "api_disabled";
    case -25212:
      return "no_value";
    case -25213:
      return "parameterized_unsupported";
    case -25214:
      return "precision";
    default:
      // -25200 itself, the notification (un)registration codes and anything
      // the table does not know.
      return "failure";
  }
}

}  // namespace addon
