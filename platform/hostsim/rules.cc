// The rules that fail calls, kill their process or make the store fail: one
// table, its kind column telling them apart, and one way of using them up.
#include "platform/hostsim/sql.h"

namespace hostsim {
namespace {

// The columns that Read takes, in its order.
#define RULE_COLUMNS "call, node, path, status, skip, times, kind"

Rule Read(Stmt& q) {
  return {q.Text(0), q.OptText(1), q.OptText(2), static_cast<uint32_t>(q.Int(3)),
          q.UInt(4), q.UInt(5),    static_cast<RuleKind>(q.Int(6))};
}

}  // namespace

void Rules::Add(const Rule& r) {
  const bool crash = r.kind == RuleKind::kCrash || r.kind == RuleKind::kCrashAfter;
  Stmt(state_, "INSERT INTO rules (" RULE_COLUMNS ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", r.call,
       r.node, r.path, r.status, r.skip, crash ? uint64_t{1} : r.times, r.kind)
      .Run();
}

std::vector<Rule> Rules::List() {
  Stmt q(state_,
         "SELECT " RULE_COLUMNS " FROM rules WHERE kind IN (?1, ?2, ?3) ORDER BY kind != ?1, id",
         RuleKind::kFail, RuleKind::kCrash, RuleKind::kCrashAfter);
  std::vector<Rule> rules;
  while (q.Step()) rules.push_back(Read(q));
  return rules;
}

void Rules::Clear() {
  Stmt(state_, "DELETE FROM rules WHERE kind IN (?1, ?2, ?3)", RuleKind::kFail, RuleKind::kCrash,
       RuleKind::kCrashAfter)
      .Run();
}

bool Rules::Any(const std::string& call) {
  return Stmt(state_, "SELECT 1 FROM rules WHERE call = ?1 LIMIT 1", call).Step();
}

Fired Rules::Consume(const std::string& call, const std::string& node, const PathFn& path,
                     bool crashEnds) {
  std::vector<std::pair<int64_t, Rule>> rows;
  {
    Stmt q(state_, "SELECT " RULE_COLUMNS ", id FROM rules WHERE call = ?1 ORDER BY id", call);
    while (q.Step()) rows.emplace_back(q.Int(7), Read(q));
  }
  // The call's path is asked at most once, and only when a rule names one.
  std::optional<std::optional<std::string>> subject;
  auto matches = [&](const Rule& r) {
    if (r.node && *r.node != node) return false;
    if (!r.path) return true;
    if (!subject) subject = path ? path() : std::nullopt;
    return *subject && **subject == *r.path;
  };
  auto consume = [&](bool crashes) {
    std::optional<Rule> fired;
    for (const auto& [id, rule] : rows) {
      const bool crash = rule.kind == RuleKind::kCrash || rule.kind == RuleKind::kCrashAfter;
      if (crash != crashes || !matches(rule)) continue;
      if (rule.skip > 0) {
        Stmt(state_, "UPDATE rules SET skip = skip - 1 WHERE id = ?1", id).Run();
      } else if (!fired) {
        fired = rule;
        if (rule.times == 1) {
          Stmt(state_, "DELETE FROM rules WHERE id = ?1", id).Run();
        } else if (rule.times > 1) {
          Stmt(state_, "UPDATE rules SET times = times - 1 WHERE id = ?1", id).Run();
        }
      }
    }
    return fired;
  };
  Fired fired{consume(true), std::nullopt};
  if (!fired.crash || (fired.crash->kind == RuleKind::kCrashAfter && !crashEnds)) {
    fired.other = consume(false);
  }
  return fired;
}

}  // namespace hostsim
