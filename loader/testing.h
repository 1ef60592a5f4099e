// What the loader's tests share: a temporary folder of definition files.
#ifndef LOADER_TESTING_H_
#define LOADER_TESTING_H_

#include <string>

#include "gtest/gtest.h"

namespace loader_testing {

// A fresh folder per test, removed with everything in it afterwards.
class DefinitionFolderTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes a file with the given value of the installed mark (none if empty)
  // and returns its path.
  std::string Write(const std::string& name, const std::string& text,
                    const std::string& mark = "\x01");

  // Gives an existing file or folder the installed mark.
  static void Mark(const std::string& path);

  std::string dir_;
};

}  // namespace loader_testing

#endif  // LOADER_TESTING_H_
