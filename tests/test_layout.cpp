// The include layering of src/: the model state is the ground floor (its
// files include no other subsystem) and the driver the top (nothing else
// includes its headers).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "files_testing.hpp"

namespace fs = std::filesystem;

TEST(Layout, ModelIncludesOnlyItselfAndOnlyTheDriverIncludesTheDriver) {
  int files = 0;
  for (const auto& f : fs::recursive_directory_iterator(fs::path(QEL_SOURCE_DIR) / "src")) {
    if (!f.is_regular_file()) continue;
    ++files;
    const std::string folder = f.path().parent_path().filename();
    std::istringstream text(qel::testing::slurp(f.path()));
    for (std::string line; std::getline(text, line);) {
      const auto at = line.find("#include \"");
      if (at == std::string::npos || line.find('/', at) == std::string::npos) continue;
      const std::string name = line.substr(at + 10);
      EXPECT_TRUE(folder != "model" || name.starts_with("model/")) << f.path() << ": " << line;
      EXPECT_TRUE(folder == "driver" || !name.starts_with("driver/")) << f.path() << ": " << line;
    }
  }
  EXPECT_GT(files, 40);
}
