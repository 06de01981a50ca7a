// The checker behind scene validation (scene_validate.h): walks a scene or a
// fragment of one, keeps the first problem as "<path>: expected <what>", and
// collects the ids and window numbers the entries define so references and
// duplicates can be checked once the walk is done. It never touches the world
// except to look up ids that a fragment refers to.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/json.h"

namespace sim {

std::string KeyPath(const std::string& path, const std::string& key);
std::string IndexPath(const std::string& path, size_t i);

class SceneChecker {
 public:
  // How an element entry is used; each use allows its own set of keys.
  enum class Use { kElement, kWindow, kTemplate, kAppElement, kPatch };

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // Keeps the first failure only; later checks become no-ops in effect.
  void Fail(const std::string& path, const std::string& what);

  // Primitive checks; each answers whether `j` has the shape (failing otherwise).
  bool Object(const Json& j, const std::string& path, const char* what = "an object");
  bool String(const Json& j, const std::string& path);
  bool Bool(const Json& j, const std::string& path);
  bool Number(const Json& j, const std::string& path);
  bool NonNegative(const Json& j, const std::string& path);
  bool Integer(const Json& j, const std::string& path, double min, double max, const char* what);
  bool Rect(const Json& j, const std::string& path);
  bool Pair(const Json& j, const std::string& path, const char* what);
  bool StringList(const Json& j, const std::string& path);
  bool NonEmptyId(const Json& j, const std::string& path);
  // Every key of `j` must be in one of the sets; `what` names the entry kind.
  void Keys(const Json& j, const std::string& path,
            std::initializer_list<const std::set<std::string>*> allowed, const char* what);

  // Ids and window numbers defined by the entries, and references to ids.
  void DefineId(const std::string& id, const std::string& path);
  void DefineWindowNumber(const Json& number, const std::string& path);
  void Reference(const Json& id, const std::string& path);
  // Checks every reference against the defined ids, the outer scope and the
  // lookup (the live world for fragments).
  void ResolveReferences();
  bool HasId(const std::string& id) const;
  bool HasWindowNumber(int64_t n) const { return window_numbers_.count(n) > 0; }

  // Entries (scene_validate.cc).
  void Element(const Json& spec, const std::string& path, const std::string& auto_id, Use use);
  void Children(const Json& list, const std::string& path, const std::string& parent_id);
  void Effects(const Json& effects, const std::string& path);
  void AttributeValue(const Json& v, const std::string& path);
  // Entries (scene_validate.cc).
  // Answers the application's pid (the default when it has none).
  int64_t App(const Json& a, const std::string& path, int64_t default_pid, bool launch);
  void Window(const Json& spec, const std::string& path, const std::string& app_id, size_t* ax_index);
  void WindowPatch(const Json& patch, const std::string& path);
  void AppPatch(const Json& patch, const std::string& path);
  void Installed(const Json& entry, const std::string& path);
  void Displays(const Json& list, const std::string& path);
  void Scene(const Json& scene);
  void Signing(const Json& sig, const std::string& path);

  // Ids of an enclosing scope (an installed entry's references may name
  // elements of the running applications) and of the live world.
  const std::map<std::string, std::string>* outer_ids = nullptr;
  std::function<bool(const std::string&)> lookup;
  // Window numbers already in use outside the checked fragment.
  std::function<bool(int64_t)> window_in_use;

 private:
  void ElementKeys(const Json& spec, const std::string& path, const std::string& id);
  void SurfaceKeys(const Json& spec, const std::string& path);
  void Generator(const Json& entry, const std::string& path, const std::string& parent_id,
                 size_t* index);
  void Effect(const Json& e, const std::string& path);
  void Target(const Json& arg, const std::string& path);

  std::string error_;
  bool shape_ = true;  // false while re-walking generated copies for their ids only
  std::map<std::string, std::string> ids_;  // id -> where it is defined
  std::map<int64_t, std::string> window_numbers_;
  std::vector<std::pair<std::string, std::string>> refs_;  // id, path
};

}  // namespace sim
