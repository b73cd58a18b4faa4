// The runtime helpers: diagnostic lines from two threads and the wide string's formatting. (_wtoi
// and the upper-casing show in the path list's counts and the programs' names.)
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/cstring.h"

namespace {

TEST(DiagPrint, TwoThreadsPrintingManyLinesKeepEveryLineWhole) {
  const int kLines = 3000;
  ::testing::internal::CaptureStdout();  // the real standard output, sent to a file
  std::thread narrow([&] {
    for (int i = 0; i < kLines; ++i)
      DiagPrintA("[Start Thread] HANDLE->%x ID->%0x narrow line %d of the worker\n", i, i, i);
  });
  std::thread wide([&] {
    for (int i = 0; i < kLines; ++i)
      DiagPrintW(L"dest:%s %d \u5b8b\u4f53 wide line of the dialog\r\n", L"NAV.EXE", i);
  });
  narrow.join();
  wide.join();
  std::istringstream all(::testing::internal::GetCapturedStdout());

  int nextNarrow = 0, nextWide = 0;
  std::string line;
  while (std::getline(all, line)) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "[Start Thread] HANDLE->%x ID->%0x narrow line %d of the worker",
                  nextNarrow, nextNarrow, nextNarrow);
    if (line == buf) {
      ++nextNarrow;
      continue;
    }
    std::snprintf(buf, sizeof buf,
                  "dest:NAV.EXE %d \xe5\xae\x8b\xe4\xbd\x93 wide line of the dialog\r", nextWide);
    ASSERT_EQ(line, buf) << "a line that is neither thread's next whole line";
    ++nextWide;
  }
  EXPECT_EQ(nextNarrow, kLines);
  EXPECT_EQ(nextWide, kLines);
}

TEST(CStringFormat, FormatsLikeTheDevice) {
  CString s;
  const std::wstring long400(400, L'x');
  struct Case {
    std::function<void(CString&)> format;
    std::wstring expected;
  };
  const Case cases[] = {
      {[](CString& c) { c.Format(L"Recovering Orvane...%d%%", 42); }, L"Recovering Orvane...42%"},
      {[](CString& c) { c.Format(L"[%5d|%-3d|%03x|%c]", 42, 7, 10, L'\u5BFC'); },
       L"[   42|7  |00a|\u5BFC]"},
      {[](CString& c) { c.Format(L"%s/%ls", L"\u5b8b\u4f53", L"w"); }, L"\u5b8b\u4f53/w"},
      {[&](CString& c) { c.Format(L"%s!", long400.c_str()); }, long400 + L"!"},
      {[](CString& c) { c.Format(L"Restart in %d s", -1); }, L"Restart in -1 s"},
  };
  for (const auto& c : cases) {
    c.format(s);
    EXPECT_EQ(s.Str(), c.expected);
    EXPECT_EQ(s.GetLength(), static_cast<int>(c.expected.size()));
  }
}

}  // namespace
