// The AT-SPI tables of the x11 backend: roles that depend on states or on
// the parent, action names as toolkits spell them, and D-Bus errors.
#include <gtest/gtest.h>

#include <string>

#include "x11/x11_atspi_apps.h"
#include "x11/x11_atspi_bus.h"
#include "x11/x11_atspi_tables.h"

namespace x11::atspi {
namespace {

Node Make(uint32_t role, std::initializer_list<AtspiStateType> states = {}) {
  Node n;
  n.role = role;
  for (auto s : states) n.states |= uint64_t{1} << s;
  return n;
}

std::string RoleOf(const Node& n) {
  AxRole r = RoleFor(n);
  return std::string(r.role) + (r.subrole ? std::string("/") + r.subrole : "");
}

TEST(AtspiTables, RolesThatDependOnStatesAndParents) {
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_FRAME)), "AXWindow/AXStandardWindow");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_DIALOG)), "AXWindow/AXDialog");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_DIALOG, {ATSPI_STATE_MODAL})), "AXSheet");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_IS_DEFAULT})), "AXButton/AXDefaultButton");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_TEXT, {ATSPI_STATE_SINGLE_LINE})), "AXTextField");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_TEXT, {ATSPI_STATE_MULTI_LINE})), "AXTextArea");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_COMBO_BOX)), "AXPopUpButton");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_COMBO_BOX, {ATSPI_STATE_EDITABLE})), "AXComboBox");
  Node menu = Make(ATSPI_ROLE_MENU);
  EXPECT_EQ(RoleOf(menu), "AXMenu");
  menu.parent_role = ATSPI_ROLE_MENU_BAR;
  EXPECT_EQ(RoleOf(menu), "AXMenuBarItem");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_PAGE_TAB)), "AXRadioButton/AXTabButton");
  EXPECT_EQ(RoleOf(Make(ATSPI_ROLE_FILLER)), "AXGroup");
}

TEST(AtspiTables, ActionsMapWhateverCaseTheToolkitUses) {
  Node gtk = Make(ATSPI_ROLE_CHECK_BOX);
  gtk.actions = {"Click"};  // GetActions answers localized names
  EXPECT_EQ(AxActionNames(gtk), std::vector<std::string>{"AXPress"});
  EXPECT_EQ(ActionIndexFor(gtk, "AXPress"), 0);
  EXPECT_EQ(ActionIndexFor(gtk, "click"), 0);  // unmapped names pass through
  EXPECT_EQ(ActionIndexFor(gtk, "AXShowMenu"), -1);

  Node qt = Make(ATSPI_ROLE_SPIN_BUTTON);
  qt.ifaces = kValue;
  qt.actions = {"SetFocus", "Increase", "Decrease"};
  EXPECT_EQ(AxActionNames(qt), (std::vector<std::string>{"SetFocus", "AXIncrement", "AXDecrement"}));
  EXPECT_EQ(ActionIndexFor(qt, "AXDecrement"), 2);
  EXPECT_EQ(ActionIndexFor(qt, "AXPress"), -1);

  // On text, activate confirms; it is no press.
  Node entry = Make(ATSPI_ROLE_ENTRY);
  entry.actions = {"activate"};
  EXPECT_EQ(AxActionNames(entry), std::vector<std::string>{"AXConfirm"});
  EXPECT_EQ(ActionIndexFor(entry, "AXPress"), -1);
  EXPECT_EQ(ActionIndexFor(entry, "AXConfirm"), 0);

  Node combo = Make(ATSPI_ROLE_COMBO_BOX);
  combo.actions = {"press"};
  EXPECT_EQ(AxActionNames(combo), (std::vector<std::string>{"AXPress", "AXShowMenu"}));
  EXPECT_EQ(ActionIndexFor(combo, "AXShowMenu"), 0);

  // Gecko's defaults: links jump, tabs switch, check boxes check; its own
  // extra actions pass through.
  Node link = Make(ATSPI_ROLE_LINK);
  link.actions = {"jump", "clickAncestor"};
  EXPECT_EQ(AxActionNames(link), (std::vector<std::string>{"AXPress", "clickAncestor"}));
  EXPECT_EQ(ActionIndexFor(link, "AXPress"), 0);
  Node box = Make(ATSPI_ROLE_CHECK_BOX);
  box.actions = {"clickAncestor", "uncheck"};
  EXPECT_EQ(ActionIndexFor(box, "AXPress"), 1);

  // A slider steps through its Value even without actions; windows raise.
  Node slider = Make(ATSPI_ROLE_SLIDER);
  slider.ifaces = kValue;
  EXPECT_EQ(AxActionNames(slider), (std::vector<std::string>{"AXIncrement", "AXDecrement"}));
  EXPECT_EQ(AxActionNames(Make(ATSPI_ROLE_FRAME)), std::vector<std::string>{"AXRaise"});
}

TEST(AtspiTables, Gtk4StatesInCommonTerms) {
  App gtk4;
  gtk4.gtk4 = true;
  Node button = Make(ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_SENSITIVE, ATSPI_STATE_VISIBLE});
  Normalize(gtk4, &button);
  EXPECT_TRUE(Has(button.states, ATSPI_STATE_ENABLED));
  EXPECT_TRUE(Has(button.states, ATSPI_STATE_SHOWING));
  // Not sensitive, not visible: neither; a window keeps its own SHOWING.
  Node off = Make(ATSPI_ROLE_PUSH_BUTTON);
  Normalize(gtk4, &off);
  EXPECT_EQ(off.states, 0u);
  Node window = Make(ATSPI_ROLE_FRAME, {ATSPI_STATE_VISIBLE});
  Normalize(gtk4, &window);
  EXPECT_FALSE(Has(window.states, ATSPI_STATE_SHOWING));
  // Other toolkits are left as they answer.
  App gtk3;
  Node plain = Make(ATSPI_ROLE_PUSH_BUTTON, {ATSPI_STATE_SENSITIVE, ATSPI_STATE_VISIBLE});
  Normalize(gtk3, &plain);
  EXPECT_FALSE(Has(plain.states, ATSPI_STATE_ENABLED));
}

TEST(AtspiTables, DBusErrorsAsPlatformErrors) {
  EXPECT_EQ(ErrorFor("org.freedesktop.DBus.Error.UnknownObject", 0), platform::kAXErrorInvalidUIElement);
  // A killed application (its name gone, its socket reset) cannot complete.
  EXPECT_EQ(ErrorFor("org.freedesktop.DBus.Error.ServiceUnknown", 0), platform::kAXErrorCannotComplete);
  EXPECT_EQ(ErrorFor("org.freedesktop.DBus.Error.NoReply", 0), platform::kAXErrorCannotComplete);
  EXPECT_EQ(ErrorFor("", ETIMEDOUT), platform::kAXErrorCannotComplete);
  EXPECT_EQ(ErrorFor("", ECONNRESET), platform::kAXErrorCannotComplete);
  EXPECT_EQ(ErrorFor("org.freedesktop.DBus.Error.UnknownMethod", 0), platform::kAXErrorAttributeUnsupported);
  EXPECT_EQ(ErrorFor("org.freedesktop.DBus.Error.InvalidArgs", 0), platform::kAXErrorIllegalArgument);
  EXPECT_EQ(ErrorFor("org.gtk.Something.Failed", 0), platform::kAXErrorFailure);
}

TEST(AtspiTables, InterfacesAndParsedValues) {
  EXPECT_EQ(IfaceBit("org.a11y.atspi.EditableText"), kEditableText);
  EXPECT_EQ(IfaceBit("org.a11y.atspi.Hypertext"), 0u);
  D list;
  list.kind = D::kList;
  list.v.resize(1);
  list.v[0].kind = D::kInt;
  list.v[0].i = 7;
  EXPECT_EQ(list.at(0).Int(), 7);
  EXPECT_EQ(list.at(5).kind, D::kNone);  // out of range reads as nothing, never past the end
  EXPECT_EQ(list.at(0).at(0).kind, D::kNone);
}

}  // namespace
}  // namespace x11::atspi
