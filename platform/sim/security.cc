// Code signing, responsible processes and screen-recording access in the
// simulated desktop. Requirements are compiled by a small parser of the
// requirement language: `identifier "x"`, `anchor apple`, `anchor apple
// generic`, `certificate leaf[subject.OU] = "TEAM"`, joined with and / or,
// negation and parentheses. Text it cannot compile is an invalid requirement.
#include <cctype>

#include "sim/hooks.h"
#include "sim/services.h"

namespace sim {

namespace {

struct Token {
  enum Kind { kWord, kString, kPunct, kEnd } kind;
  std::string text;
};

bool Tokenize(const std::string& s, std::vector<Token>* out) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '"') {
      size_t j = i + 1;
      std::string text;
      while (j < s.size() && s[j] != '"') {
        if (s[j] == '\\' && j + 1 < s.size()) ++j;
        text.push_back(s[j++]);
      }
      if (j >= s.size()) return false;
      out->push_back({Token::kString, text});
      i = j + 1;
    } else if (c == '&' || c == '|') {
      if (i + 1 >= s.size() || s[i + 1] != c) return false;
      out->push_back({Token::kWord, c == '&' ? "and" : "or"});
      i += 2;
    } else if (c == '[' || c == ']' || c == '(' || c == ')' || c == '=' || c == '!') {
      out->push_back({Token::kPunct, std::string(1, c)});
      ++i;
    } else if (isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
               c == '/' || c == ':' || c == '*') {
      size_t j = i;
      while (j < s.size() && (isalnum(static_cast<unsigned char>(s[j])) || s[j] == '.' ||
                              s[j] == '_' || s[j] == '-' || s[j] == '/' || s[j] == ':' ||
                              s[j] == '*'))
        ++j;
      out->push_back({Token::kWord, s.substr(i, j - i)});
      i = j;
    } else {
      return false;
    }
  }
  out->push_back({Token::kEnd, ""});
  return true;
}

struct Subject {
  std::optional<platform::SigningInfo> signing;
  std::string anchor;
};

class Requirement {
 public:
  Requirement(std::vector<Token> t, const Subject& s) : t_(std::move(t)), s_(s) {}

  // Answers false when the text does not compile.
  bool Evaluate(bool* result) {
    if (t_.size() <= 1) return false;
    if (!Or(result)) return false;
    return t_[pos_].kind == Token::kEnd;
  }

 private:
  int depth_ = 0;
  const Token& Peek() const { return t_[pos_]; }
  bool IsWord(const char* w) const { return Peek().kind == Token::kWord && Peek().text == w; }
  bool IsPunct(const char* p) const { return Peek().kind == Token::kPunct && Peek().text == p; }

  bool Or(bool* r) {
    if (!And(r)) return false;
    while (IsWord("or")) {
      ++pos_;
      bool rhs;
      if (!And(&rhs)) return false;
      *r = *r || rhs;
    }
    return true;
  }
  bool And(bool* r) {
    if (!Factor(r)) return false;
    while (IsWord("and")) {
      ++pos_;
      bool rhs;
      if (!Factor(&rhs)) return false;
      *r = *r && rhs;
    }
    return true;
  }
  // Nesting deeper than this does not compile (as a real requirement
  // compiler refuses absurd nesting), so hostile text cannot exhaust the stack.
  static constexpr int kMaxNesting = 64;

  bool Factor(bool* r) {
    if (IsPunct("!") || IsPunct("(")) {
      if (depth_ >= kMaxNesting) return false;
      ++depth_;
      bool ok = Nested(r);
      --depth_;
      return ok;
    }
    return Clause(r);
  }
  bool Nested(bool* r) {
    if (IsPunct("!")) {
      ++pos_;
      if (!Factor(r)) return false;
      *r = !*r;
      return true;
    }
    ++pos_;  // "("
    if (!Or(r)) return false;
    if (!IsPunct(")")) return false;
    ++pos_;
    return true;
  }
  bool Value(std::string* out) {
    if (Peek().kind != Token::kString && Peek().kind != Token::kWord) return false;
    if (Peek().kind == Token::kWord && (Peek().text == "and" || Peek().text == "or")) return false;
    *out = Peek().text;
    ++pos_;
    return true;
  }
  bool Clause(bool* r) {
    if (IsWord("identifier")) {
      ++pos_;
      if (IsPunct("=")) ++pos_;
      std::string v;
      if (!Value(&v)) return false;
      *r = s_.signing && s_.signing->identifier && *s_.signing->identifier == v;
      return true;
    }
    if (IsWord("anchor")) {
      ++pos_;
      if (!IsWord("apple")) {
        // anchor trusted, anchor = H"..." and the like: never satisfied here.
        if (IsWord("trusted")) {
          ++pos_;
          *r = false;
          return true;
        }
        return false;
      }
      ++pos_;
      if (IsWord("generic")) {
        ++pos_;
        *r = s_.anchor == "apple" || s_.anchor == "apple generic";
      } else {
        *r = s_.anchor == "apple";
      }
      return true;
    }
    if (IsWord("certificate") || IsWord("cert")) {
      ++pos_;
      if (Peek().kind != Token::kWord) return false;
      std::string which = Peek().text;
      ++pos_;
      if (!IsPunct("[")) return false;
      ++pos_;
      if (Peek().kind != Token::kWord) return false;
      std::string field = Peek().text;
      ++pos_;
      if (!IsPunct("]")) return false;
      ++pos_;
      if (IsWord("exists")) {
        ++pos_;
        *r = false;
        return true;
      }
      if (!IsPunct("=")) return false;
      ++pos_;
      std::string v;
      if (!Value(&v)) return false;
      *r = which == "leaf" && field == "subject.OU" && s_.signing && s_.signing->team_identifier &&
           *s_.signing->team_identifier == v;
      return true;
    }
    if (IsWord("info") || IsWord("entitlement")) {
      ++pos_;
      if (!IsPunct("[")) return false;
      ++pos_;
      if (Peek().kind != Token::kWord && Peek().kind != Token::kString) return false;
      ++pos_;
      if (!IsPunct("]")) return false;
      ++pos_;
      if (IsWord("exists")) {
        ++pos_;
      } else {
        if (!IsPunct("=")) return false;
        ++pos_;
        std::string v;
        if (!Value(&v)) return false;
      }
      *r = false;
      return true;
    }
    return false;
  }

  std::vector<Token> t_;
  const Subject& s_;
  size_t pos_ = 0;
};

pid_t PidOfToken(const platform::AuditToken& token) {
  // Eight little-endian words: auid, euid, egid, ruid, rgid, pid, asid, pidversion.
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(token[5 * 4 + i]) << (8 * i);
  return static_cast<pid_t>(v);
}

platform::RequirementResult Check(pid_t pid, const std::string& requirement) {
  std::vector<Token> tokens;
  if (!Tokenize(requirement, &tokens)) return platform::RequirementResult::kInvalidRequirement;
  Subject subject;
  bool known = false;
  {
    World& w = W();
    std::lock_guard<std::mutex> l(w.mu);
    if (auto app = FindApp(w, pid)) {
      known = true;
      subject.signing = app->signing;
      subject.anchor = app->anchor;
    }
  }
  // Compile before looking at the code, as the platform does.
  Subject none;
  bool ignored = false;
  if (!Requirement(tokens, none).Evaluate(&ignored))
    return platform::RequirementResult::kInvalidRequirement;
  if (!known || !subject.signing) return platform::RequirementResult::kNoCode;
  bool satisfied = false;
  Requirement(tokens, subject).Evaluate(&satisfied);
  return satisfied ? platform::RequirementResult::kSatisfied
                   : platform::RequirementResult::kNotSatisfied;
}

}  // namespace

std::optional<platform::SigningInfo> SimSecurity::SigningInfoForPid(pid_t pid) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  auto app = FindApp(w, pid);
  if (!app) return std::nullopt;
  return app->signing;
}

std::optional<platform::SigningInfo> SimSecurity::SigningInfoForAuditToken(
    const platform::AuditToken& token) {
  return SigningInfoForPid(PidOfToken(token));
}

platform::RequirementResult SimSecurity::CheckRequirementForPid(pid_t pid,
                                                                const std::string& requirement) {
  return Check(pid, requirement);
}

platform::RequirementResult SimSecurity::CheckRequirementForAuditToken(
    const platform::AuditToken& token, const std::string& requirement) {
  return Check(PidOfToken(token), requirement);
}

std::optional<pid_t> SimSecurity::ResponsiblePidForPid(pid_t pid) {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!w.perms.responsibility_available) return std::nullopt;
  auto app = FindApp(w, pid);
  if (!app) return -1;
  return app->responsible_pid;
}

std::optional<bool> SimSecurity::PreflightScreenCaptureAccess() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!w.perms.preflight_available) return std::nullopt;
  return w.perms.screen_recording;
}

std::optional<bool> SimSecurity::RequestScreenCaptureAccess() {
  World& w = W();
  std::lock_guard<std::mutex> l(w.mu);
  if (!w.perms.request_available) return std::nullopt;
  w.perms.request_count++;
  return w.perms.screen_recording;
}

}  // namespace sim
