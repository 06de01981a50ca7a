// What an AT-SPI object is, in the platform's vocabulary: the facts the
// backend keeps about one object (a record), its roles, states, interfaces
// and actions, and the tables that turn them into AX roles, subroles and
// action names.
#pragma once

#include <atspi/atspi-constants.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace x11::atspi {

inline constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";
inline constexpr const char* kNullPath = "/org/a11y/atspi/null";

// An object on the accessibility bus: the unique bus name of its
// application and its object path.
struct Ref {
  std::string bus;
  std::string path;
  bool null() const { return path.empty() || path == kNullPath; }
  bool operator==(const Ref& o) const { return bus == o.bus && path == o.path; }
};

// Interfaces an object implements, as bits.
enum Iface : uint32_t {
  kAccessible = 1u << 0,
  kAction = 1u << 1,
  kComponent = 1u << 2,
  kText = 1u << 3,
  kEditableText = 1u << 4,
  kValue = 1u << 5,
  kSelection = 1u << 6,
  kApplication = 1u << 7,
};
uint32_t IfaceBit(const std::string& name);

inline bool Has(uint64_t states, AtspiStateType s) { return (states >> s) & 1; }
// The two 32-bit words of GetState as one set.
inline uint64_t States(uint64_t low, uint64_t high) { return low | (high << 32); }

// One object's facts, as fetched for a capture. `known` says which of the
// optional facts were asked for (an absent fact that was asked is "none").
struct Node {
  enum Known : uint32_t {
    kChildren = 1u << 0,
    kExtents = 1u << 1,
    kActions = 1u << 2,
    kValueNow = 1u << 3,
    kTextNow = 1u << 4,
    kRelations = 1u << 5,
    kIdentifier = 1u << 6,
  };
  Ref self;
  Ref parent;
  uint32_t role = ATSPI_ROLE_INVALID;
  uint32_t parent_role = ATSPI_ROLE_INVALID;
  std::string name;
  std::string description;
  uint64_t states = 0;
  uint32_t ifaces = 0;
  int32_t child_count = 0;
  int32_t index_in_parent = -1;
  uint32_t known = 0;
  std::vector<Ref> children;
  int32_t x = 0, y = 0, w = 0, h = 0;
  bool has_extents = false;
  std::vector<std::string> actions;  // AT-SPI action names, in index order
  std::optional<double> value;
  std::optional<std::string> text;
  std::optional<Ref> labelled_by;
  std::optional<std::string> identifier;
  std::string window;  // path of the application's window that holds it (GTK 4; empty: unknown)
  std::chrono::steady_clock::time_point fetched;
};

// Window roles: frame, window, dialog, alert, file chooser.
bool IsWindowRole(uint32_t role);
// Roles whose AXValue is their text.
bool IsTextRole(uint32_t role);

struct AxRole {
  const char* role;
  const char* subrole;  // nullptr when none
};
AxRole RoleFor(const Node& n);

// The AX action names of an object (mapped from its AT-SPI actions, plus
// those the backend provides itself), in order, without duplicates.
std::vector<std::string> AxActionNames(const Node& n);
// The index of the AT-SPI action that performs an AX action; -1 when none.
int ActionIndexFor(const Node& n, const std::string& ax_action);

}  // namespace x11::atspi
