#include "sources/boot_option.h"

#include <pthread.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kni.h"
#include "loader/exception.h"
#include "loader/value.h"
#include "platform/kernel_records.h"
#include "sources/boot_option_internal.h"

namespace {

// An option's value, upper-cased, is compared with these; TrueWords first.
const std::vector<std::string> TrueWords = {"TRUE", "ENABLED"};
const std::vector<std::string> FalseWords = {"FALSE", "DISABLED"};

// How the searches are kept safe.
//
// libstdc++'s matcher backtracks by recursion: it goes one call deeper for
// every state of the pattern it passes, several per character matched. The
// value pattern "\s*[:=]\s*([^\s]+)" after the name thus needs stack in
// proportion to the value's length: measured, a value of 4,000 characters
// overflows a 1 MB stack in the normal build, one of 1,000 does in the
// sanitizer build, and a value may be nearly 4,096 long. So the library never
// matches the value: the search pattern ends with the value's first
// character, "([^\s])", and the rest of its non-blank run is scanned here.
// The match is the same: the value's group closes the pattern, so wherever
// "[^\s]" matches, "[^\s]+" matches too, taking the whole run.
//
// The name stays a regular expression, inserted unchanged, and can still
// make the matcher recurse per character (".*") or backtrack for ever
// ("(a|a)*b"). Every search therefore runs on iterators that count its steps
// and watch the stack, and stops with the library's own complexity or stack
// error before either runs out. The compiler recurses too, per term and per
// nesting level of the pattern, which the bound on the name's length keeps
// small (a 128-byte name of 64 nested groups compiles in under 256 KB).
constexpr size_t kMaxNameLength = 128;
// The compiler reads the number of a back-reference or a repeat count into a
// long without a bound, so a longer run of digits after "\\", "{" or ","
// would overflow it; nine digits always fit.
constexpr size_t kMaxNumberDigits = 9;
// A plain name searches the longest line in some ten thousand steps; a
// million still ends within a fraction of a second, even in the sanitizer
// build, where a name that backtracks without end would never finish.
constexpr long kMaxSteps = 1L << 20;
// Left unused below the search, for the unwinding and for the states the
// matcher passes between two looks at the text.
constexpr uintptr_t kStackReserve = 128 * 1024;
// Needed free before a pattern is compiled.
constexpr uintptr_t kCompileReserve = 512 * 1024;

const char kValueSuffix[] = "\\s*[:=]\\s*([^\\s]+)";
const char kSearchSuffix[] = "\\s*[:=]\\s*([^\\s])";

uintptr_t StackPosition() { return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)); }

// The lowest address of this thread's stack; 0 when unknown.
uintptr_t StackBottom() {
  thread_local const uintptr_t bottom = [] {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return uintptr_t{0};
    void* addr = nullptr;
    size_t size = 0;
    int status = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    return status == 0 ? reinterpret_cast<uintptr_t>(addr) : uintptr_t{0};
  }();
  return bottom;
}

void NeedStack(uintptr_t bytes) {
  const uintptr_t bottom = StackBottom();
  if (bottom != 0 && StackPosition() < bottom + bytes) {
    throw std::regex_error(std::regex_constants::error_stack);
  }
}

bool HasLongNumber(const std::string& pattern) {
  constexpr std::string_view kBefore = "\\{,";
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (kBefore.find(pattern[i]) == std::string_view::npos) continue;
    size_t end = i + 1;
    while (end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end]))) ++end;
    if (end - i - 1 > kMaxNumberDigits) return true;
  }
  return false;
}

std::regex Compile(const std::string& pattern) {
  if (HasLongNumber(pattern)) throw std::regex_error(std::regex_constants::error_complexity);
  NeedStack(kCompileReserve);
  return std::regex(pattern);
}

class SearchBudget {
 public:
  void Step() {
    if (++steps_ > kMaxSteps) throw std::regex_error(std::regex_constants::error_complexity);
    NeedStack(kStackReserve);
  }

 private:
  long steps_ = 0;
};

// A position in the command line that charges the budget whenever the
// matcher reads a character or compares positions, which it does at nearly
// every state it passes.
class BudgetIterator {
 public:
  using iterator_category = std::bidirectional_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  BudgetIterator() = default;
  BudgetIterator(const char* at, SearchBudget* budget) : at_(at), budget_(budget) {}

  const char* base() const { return at_; }

  reference operator*() const {
    Charge();
    return *at_;
  }
  BudgetIterator& operator++() {
    ++at_;
    return *this;
  }
  BudgetIterator operator++(int) {
    BudgetIterator old = *this;
    ++at_;
    return old;
  }
  BudgetIterator& operator--() {
    --at_;
    return *this;
  }
  BudgetIterator operator--(int) {
    BudgetIterator old = *this;
    --at_;
    return old;
  }
  friend bool operator==(const BudgetIterator& a, const BudgetIterator& b) {
    a.Charge();
    return a.at_ == b.at_;
  }
  friend bool operator!=(const BudgetIterator& a, const BudgetIterator& b) { return !(a == b); }

 private:
  void Charge() const {
    if (budget_ != nullptr) budget_->Step();
  }

  const char* at_ = nullptr;
  SearchBudget* budget_ = nullptr;
};

using Match = std::match_results<BudgetIterator>;

// The iterators of match point into text and into budget.
bool Search(const std::string& text, const std::regex& re, SearchBudget* budget, Match* match) {
  const BudgetIterator begin(text.data(), budget);
  const BudgetIterator end(text.data() + text.size(), budget);
  return std::regex_search(begin, end, *match, re);
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Group 1 of the first match of the name followed by the value pattern, or
// none when there is no match.
std::optional<std::string> OptionValue(const std::string& cmdline, const std::string& name) {
  // Compiled for its errors: they are the ones the full pattern has.
  const std::regex full = Compile(name + kValueSuffix);
  const std::regex search = Compile(name + kSearchSuffix);
  SearchBudget budget;
  Match match;
  if (!Search(cmdline, search, &budget, &match)) return std::nullopt;
  if (!match[1].matched) return std::string();
  const char* begin = match[1].first.base();
  const char* end = match[1].second.base();
  // A name with groups of its own holds group 1; else it is the value's.
  if (full.mark_count() == 1) {
    const char* const lineEnd = cmdline.data() + cmdline.size();
    while (end != lineEnd && !IsBlank(*end)) ++end;
  }
  return std::string(begin, end);
}

bool NameOccurs(const std::string& cmdline, const std::string& name) {
  const std::regex re = Compile(name);
  SearchBudget budget;
  Match match;
  return Search(cmdline, re, &budget, &match);
}

double ValueOf(const std::string& value, double fallback) {
  std::string upper = value;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& word : TrueWords) {
    if (upper == word) return 1.0;
  }
  for (const std::string& word : FalseWords) {
    if (upper == word) return 0.0;
  }
  try {
    return std::stof(value);  // single precision: "0.1" gives 0.100000001490116...
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  return fallback;
}

std::string ReadBootCmdLine() {
  auto record = std::make_unique<KernelRecords::Record<KNI_BOOT_CMDLINE_SIZE>>();
  if (KernelRecords::ReadRecord(KNI_NODE_system_bootCmdLine, record.get()) != ZRV_OK) {
    throw Loader::Exception(YAML::Mark::null_mark(), "KNI_Get failed");
  }
  const char* text = reinterpret_cast<const char*>(record->data());
  return std::string(text, strnlen(text, record->size()));
}

// A read that throws leaves the line unread, to be tried again next time.
const std::string& BootCmdLine() {
  static const std::string cmdline = ReadBootCmdLine();
  return cmdline;
}

}  // namespace

namespace Sources {
namespace internal {

double BootOptionValue(const std::string& cmdline, const std::string& name, double fallback) {
  if (name.size() > kMaxNameLength) throw std::regex_error(std::regex_constants::error_complexity);
  if (std::optional<std::string> value = OptionValue(cmdline, name)) {
    return ValueOf(*value, fallback);
  }
  // Present without a value: a flag that is set.
  return NameOccurs(cmdline, name) ? 1.0 : fallback;
}

}  // namespace internal
}  // namespace Sources

double ResolveBootOption(const YAML::Node& node, const Calc::Variables& table) {
  const std::string& cmdline = BootCmdLine();
  if (!node.IsMap()) throw Loader::Exception(node.Mark(), "invalid Boot option specification");
  std::string name;
  std::optional<double> fallback;
  for (const auto& entry : node) {
    const std::string key = entry.first.as<std::string>();
    if (key == "key") {
      name = entry.second.as<std::string>();
    } else if (key == "default") {
      fallback = ResolveNumber(entry.second, table);
    } else {
      throw Loader::Exception(entry.second.Mark(), "invalid boot option field");
    }
  }
  if (name.empty()) throw Loader::Exception(node.Mark(), "missing key");
  if (!fallback) throw Loader::Exception(node.Mark(), "missing default");
  return Sources::internal::BootOptionValue(cmdline, name, *fallback);
}
