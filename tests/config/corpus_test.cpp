// The bad files kept with the sources (the fuzz target's seeds and its findings): each one is read
// without a crash, a hang or a leak, and the reader's properties hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/config/config_fixture.h"
#include "tests/fuzz/path_list_check.h"

namespace {

using CorpusTest = ConfigTest;

TEST_F(CorpusTest, EveryBadFileIsReadSafely) {
  const std::filesystem::path dir =
      std::filesystem::path(ORVANE_SOURCE_DIR) / "tests/config/corpus";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().extension() == ".xml") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 40u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    EXPECT_EQ(CheckPathListOnBytes(m_image.Host("ResidentFlash/Path.xml"), kPathXml,
                                   ReadHostFile(file.string())),
              "");
  }
}

}  // namespace
