#include "loader/exception.h"

#include "gtest/gtest.h"

namespace {

YAML::Mark At(int line, int column) {
  YAML::Mark mark;
  mark.line = line;
  mark.column = column;
  mark.pos = 0;
  return mark;
}

TEST(DefinitionErrors, TextsShowPositionsOneBased) {
  struct {
    YAML::Mark mark;
    const char* exception;
    const char* fileError;
  } cases[] = {
      {At(2, 4), "yaml-cpp: error at line 3, column 5: invalid rp field",
       "/etc/rp.d/a.yaml: line 3 column 5: invalid rp field"},
      {At(0, 0), "yaml-cpp: error at line 1, column 1: invalid rp field",
       "/etc/rp.d/a.yaml: line 1 column 1: invalid rp field"},
      {YAML::Mark::null_mark(), "invalid rp field", "/etc/rp.d/a.yaml: invalid rp field"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(Loader::Exception(c.mark, "invalid rp field").what(), c.exception);
    EXPECT_STREQ(Loader::FileError("/etc/rp.d/a.yaml", "invalid rp field", c.mark).what(),
                 c.fileError);
  }
}

}  // namespace
