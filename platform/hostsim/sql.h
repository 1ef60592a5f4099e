// A statement of the state's connection in use, for the parts of the state.
#ifndef PLATFORM_HOSTSIM_SQL_H_
#define PLATFORM_HOSTSIM_SQL_H_

#include <sqlite3.h>

#include <string_view>
#include <type_traits>

#include "platform/hostsim/state.h"

namespace hostsim {

// A cached statement, its arguments bound to ?1, ?2, ... in order on the way
// in (an Allocation takes four places), reset on the way out so that it holds
// no read lock and no stale bindings between uses.
class Stmt {
 public:
  template <typename... Args>
  Stmt(State& state, const char* sql, const Args&... args)
      : state_(state), stmt_(state.Prepare(sql)) {
    int place = 0;
    (Bind(&place, args), ...);
  }
  ~Stmt() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  // True while there is a row to read.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    state_.Fail(sqlite3_sql(stmt_));
  }
  // Steps to the row that a statement on the host's one row must find.
  Stmt& HostRow() {
    if (!Step()) state_.Fail("no host row");
    return *this;
  }
  // Runs it to the end; the number of rows it changed.
  int Run() {
    while (Step()) {
    }
    return sqlite3_changes(sqlite3_db_handle(stmt_));
  }

  int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  uint64_t UInt(int col) { return static_cast<uint64_t>(Int(col)); }
  bool IsNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string Text(int col) {
    const unsigned char* text = sqlite3_column_text(stmt_, col);
    return text == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char*>(text),
                                         static_cast<size_t>(sqlite3_column_bytes(stmt_, col)));
  }
  std::optional<std::string> OptText(int col) {
    if (IsNull(col)) return std::nullopt;
    return Text(col);
  }

 private:
  // Texts are copied: callers pass temporaries that die before the
  // statement runs. Integers, enums and bools are stored as 64-bit integers.
  template <typename T>
  void Bind(int* place, const T& value) {
    int rc = SQLITE_OK;
    if constexpr (std::is_same_v<T, Allocation>) {
      for (int64_t field : {value.min, value.max, value.shares, value.minLimit}) Bind(place, field);
    } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
      if (value) return Bind(place, *value);
      rc = sqlite3_bind_null(stmt_, ++*place);
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
      rc = sqlite3_bind_int64(stmt_, ++*place, static_cast<int64_t>(value));
    } else {
      std::string_view text(value);
      rc = sqlite3_bind_text(stmt_, ++*place, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK) state_.Fail("bind");
  }

  State& state_;
  sqlite3_stmt* stmt_;
};

}  // namespace hostsim

#endif  // PLATFORM_HOSTSIM_SQL_H_
