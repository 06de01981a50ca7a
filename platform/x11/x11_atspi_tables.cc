// Role, subrole and action tables from AT-SPI to AX names.
#include "x11/x11_atspi_tables.h"

#include <algorithm>
#include <strings.h>

#include <cstring>

namespace x11::atspi {

uint32_t IfaceBit(const std::string& name) {
  static const struct {
    const char* name;
    Iface bit;
  } kTable[] = {
      {"org.a11y.atspi.Accessible", kAccessible}, {"org.a11y.atspi.Action", kAction},
      {"org.a11y.atspi.Component", kComponent},   {"org.a11y.atspi.Text", kText},
      {"org.a11y.atspi.EditableText", kEditableText}, {"org.a11y.atspi.Value", kValue},
      {"org.a11y.atspi.Selection", kSelection},   {"org.a11y.atspi.Application", kApplication},
  };
  for (const auto& e : kTable)
    if (name == e.name) return e.bit;
  return 0;
}

bool IsWindowRole(uint32_t role) {
  return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG ||
         role == ATSPI_ROLE_ALERT || role == ATSPI_ROLE_FILE_CHOOSER;
}

bool IsTextRole(uint32_t role) {
  return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT ||
         role == ATSPI_ROLE_PARAGRAPH || role == ATSPI_ROLE_DOCUMENT_TEXT ||
         role == ATSPI_ROLE_TERMINAL;
}

AxRole RoleFor(const Node& n) {
  const uint64_t s = n.states;
  switch (n.role) {
    case ATSPI_ROLE_APPLICATION: return {"AXApplication", nullptr};
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW: return {"AXWindow", "AXStandardWindow"};
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
      // A modal dialog of an application is its sheet.
      return Has(s, ATSPI_STATE_MODAL) ? AxRole{"AXSheet", nullptr} : AxRole{"AXWindow", "AXDialog"};
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
      return {"AXButton", Has(s, ATSPI_STATE_IS_DEFAULT) ? "AXDefaultButton" : nullptr};
    case ATSPI_ROLE_TOGGLE_BUTTON: return {"AXCheckBox", "AXToggle"};
    case ATSPI_ROLE_CHECK_BOX: return {"AXCheckBox", nullptr};
    case ATSPI_ROLE_RADIO_BUTTON: return {"AXRadioButton", nullptr};
    case ATSPI_ROLE_MENU_BAR: return {"AXMenuBar", nullptr};
    case ATSPI_ROLE_MENU:
      return {n.parent_role == ATSPI_ROLE_MENU_BAR ? "AXMenuBarItem" : "AXMenu", nullptr};
    case ATSPI_ROLE_POPUP_MENU: return {"AXMenu", nullptr};
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM: return {"AXMenuItem", nullptr};
    case ATSPI_ROLE_PASSWORD_TEXT: return {"AXTextField", "AXSecureTextField"};
    case ATSPI_ROLE_ENTRY: return {"AXTextField", nullptr};
    case ATSPI_ROLE_TEXT:
      return {Has(s, ATSPI_STATE_SINGLE_LINE) ? "AXTextField" : "AXTextArea", nullptr};
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_TERMINAL: return {"AXTextArea", nullptr};
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION: return {"AXStaticText", nullptr};
    case ATSPI_ROLE_HEADING: return {"AXHeading", nullptr};
    case ATSPI_ROLE_COMBO_BOX:
      return {Has(s, ATSPI_STATE_EDITABLE) ? "AXComboBox" : "AXPopUpButton", nullptr};
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX: return {"AXList", nullptr};
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM: return {"AXRow", nullptr};
    case ATSPI_ROLE_TABLE: return {"AXTable", nullptr};
    case ATSPI_ROLE_TREE_TABLE:
    case ATSPI_ROLE_TREE: return {"AXOutline", nullptr};
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER: return {"AXCell", nullptr};
    case ATSPI_ROLE_SLIDER: return {"AXSlider", nullptr};
    case ATSPI_ROLE_SPIN_BUTTON: return {"AXIncrementor", nullptr};
    case ATSPI_ROLE_PROGRESS_BAR: return {"AXProgressIndicator", nullptr};
    case ATSPI_ROLE_LEVEL_BAR: return {"AXLevelIndicator", nullptr};
    case ATSPI_ROLE_SCROLL_BAR: return {"AXScrollBar", nullptr};
    case ATSPI_ROLE_SCROLL_PANE: return {"AXScrollArea", nullptr};
    case ATSPI_ROLE_SPLIT_PANE: return {"AXSplitGroup", nullptr};
    case ATSPI_ROLE_PAGE_TAB_LIST: return {"AXTabGroup", nullptr};
    case ATSPI_ROLE_PAGE_TAB: return {"AXRadioButton", "AXTabButton"};
    case ATSPI_ROLE_TOOL_BAR: return {"AXToolbar", nullptr};
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_DESKTOP_ICON: return {"AXImage", nullptr};
    case ATSPI_ROLE_LINK: return {"AXLink", nullptr};
    case ATSPI_ROLE_TOOL_TIP: return {"AXHelpTag", nullptr};
    case ATSPI_ROLE_ANIMATION: return {"AXBusyIndicator", nullptr};
    case ATSPI_ROLE_UNKNOWN:
    case ATSPI_ROLE_INVALID: return {"AXUnknown", nullptr};
    default: return {"AXGroup", nullptr};  // panels, fillers, panes, sections, separators, ...
  }
}

namespace {

// Action names compare ignoring case: GetActions answers the localized names
// ("Click" for GTK's "click" in the C locale), Qt its own ("Press").
bool Named(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The AT-SPI actions that press, in the order they are preferred.
// (Gecko names the default action of links "jump", of tabs "switch", of
// check boxes "check" / "uncheck", of options "select".)
const char* const kPressNames[] = {"click", "press", "toggle", "activate", "jump", "switch",
                                   "check", "uncheck", "cycle", "select"};

}  // namespace

int ActionIndexFor(const Node& n, const std::string& ax) {
  auto find = [&](const char* name) -> int {
    for (size_t i = 0; i < n.actions.size(); ++i)
      if (Named(n.actions[i], name)) return static_cast<int>(i);
    return -1;
  };
  if (ax == "AXPress") {
    for (const char* name : kPressNames) {
      if (IsTextRole(n.role) && std::strcmp(name, "activate") == 0) continue;
      int i = find(name);
      if (i >= 0) return i;
    }
    return -1;
  }
  if (ax == "AXShowMenu") {
    int i = find("ShowMenu");
    return i >= 0 || n.role != ATSPI_ROLE_COMBO_BOX ? i : find("press");
  }
  if (ax == "AXIncrement") return find("Increase");
  if (ax == "AXDecrement") return find("Decrease");
  if (ax == "AXConfirm") return IsTextRole(n.role) ? find("activate") : -1;
  return find(ax.c_str());
}

std::vector<std::string> AxActionNames(const Node& n) {
  std::vector<std::string> out;
  auto add = [&](const std::string& name) {
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  };
  for (const auto& a : n.actions) {
    bool press = false;
    for (const char* p : kPressNames) press = press || Named(a, p);
    if (press && !(IsTextRole(n.role) && Named(a, "activate"))) {
      add("AXPress");
      if (n.role == ATSPI_ROLE_COMBO_BOX && Named(a, "press")) add("AXShowMenu");
    } else if (Named(a, "ShowMenu")) {
      add("AXShowMenu");
    } else if (Named(a, "Increase")) {
      add("AXIncrement");
    } else if (Named(a, "Decrease")) {
      add("AXDecrement");
    } else if (Named(a, "activate")) {
      add("AXConfirm");
    } else {
      add(a);
    }
  }
  // Values step through the Value interface where no action does it.
  if ((n.ifaces & kValue) && (n.role == ATSPI_ROLE_SLIDER || n.role == ATSPI_ROLE_SPIN_BUTTON)) {
    add("AXIncrement");
    add("AXDecrement");
  }
  if (IsWindowRole(n.role)) add("AXRaise");
  return out;
}

}  // namespace x11::atspi
