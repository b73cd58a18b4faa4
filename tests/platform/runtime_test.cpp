// The runtime helpers: diagnostic lines from two threads, the exit hook, _wtoi, _wcsupr and the
// wide string's formatting.
#include "platform/runtime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/cstring.h"
#include "tests/fakes/diag_capture.h"

namespace {

// Sends standard output to a file for its lifetime.
class CStdoutToFile {
 public:
  explicit CStdoutToFile(const std::string& path) {
    std::fflush(stdout);
    m_saved = ::dup(1);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::close(fd);
  }
  ~CStdoutToFile() {
    std::fflush(stdout);
    ::dup2(m_saved, 1);
    ::close(m_saved);
  }

 private:
  int m_saved;
};

TEST(DiagPrint, TwoThreadsPrintingManyLinesKeepEveryLineWhole) {
  const int kLines = 3000;
  char path[] = "/tmp/orvane-stdout-XXXXXX";
  ::close(::mkstemp(path));
  {
    CStdoutToFile redirect(path);
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
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  ::unlink(path);

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

TEST(DiagPrint, CaptureCollectsEachCallAndRestoresTheOuterOne) {
  CDiagCapture outer;
  DiagPrintA("outer %d\n", 1);
  {
    CDiagCapture inner;
    DiagPrintW(L"ignore dir:%s\r\n", L"\\ResidentFlash");
    DiagPrintA("~Thread WAIT_TIMEOUT\n");
    EXPECT_EQ(inner.Lines(), (std::vector<std::string>{"ignore dir:\\ResidentFlash\r\n",
                                                       "~Thread WAIT_TIMEOUT\n"}));
  }
  DiagPrintW(L"terminate %s ok\r\n", L"nav.exe");
  EXPECT_EQ(outer.Lines(), (std::vector<std::string>{"outer 1\n", "terminate nav.exe ok\r\n"}));
  EXPECT_EQ(outer.Text(), "outer 1\nterminate nav.exe ok\r\n");
}

TEST(ExitProgram, RunsTheHookWithTheCode) {
  SetExitHook([](int code) { throw code; });
  int seen = -1;
  try {
    ExitProgram(3);
  } catch (int code) {
    seen = code;
  }
  SetExitHook(nullptr);
  EXPECT_EQ(seen, 3);
}

// Both run in the environment's UTF-8 locale, as the program does once Qt has started.
TEST(Wtoi, ReadsLeadingDigitsAndSaturates) {
  std::setlocale(LC_ALL, "C.UTF-8");
  const std::pair<const wchar_t*, int> cases[] = {
      {L"123", 123},
      {L"  -42x", -42},
      {L"\t\n\v\f\r 9", 9},
      {L"abc", 0},
      {L"2147483648", INT_MAX},
      {L"99999999999999999999999", INT_MAX},
      {L"-2147483649", INT_MIN},
      {L"-99999999999999999999999", INT_MIN},
      {L"\u0661\u0662", 0},  // digits of another script are no digits here
      {L"\u2003 5", 0},      // nor is its white space any
      {nullptr, 0},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text ? WideToUtf8(text) : "null");
    EXPECT_EQ(_wtoi(text), value);
  }
  std::setlocale(LC_ALL, "C");
}

TEST(Wcsupr, UpperCasesAsciiLettersInPlaceOnly) {
  std::setlocale(LC_ALL, "C.UTF-8");
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"nav.exe", L"NAV.EXE"},
      {L"Nav.ExE", L"NAV.EXE"},
      {L"az{`@[", L"AZ{`@["},
      {L"\u00e4\u00df\u5b8b z", L"\u00e4\u00df\u5b8b Z"},
      {L"\u0131\u017f", L"\u0131\u017f"},  // no ASCII letter from another script's
      {L"", L""},
  };
  for (const auto& [in, out] : cases) {
    std::wstring buf = in;
    EXPECT_EQ(_wcsupr(buf.data()), buf.data());
    EXPECT_EQ(buf, out);
    CString s(in);
    EXPECT_EQ(s.MakeUpper(), CString(out));
  }
  EXPECT_EQ(_wcsupr(nullptr), nullptr);
  std::setlocale(LC_ALL, "C");
}

TEST(CStringFormat, FormatsLikeTheDevice) {
  CString s;
  const std::wstring long400(400, L'x');
  struct Case {
    std::function<void(CString&)> format;
    std::wstring expected;
  };
  const Case cases[] = {
      {[](CString& c) { c.Format(L"Recover failed(%d)!Press OK to reboot.", 112); },
       L"Recover failed(112)!Press OK to reboot."},
      {[](CString& c) { c.Format(L"Recovering Orvane...%d%%", 42); }, L"Recovering Orvane...42%"},
      {[](CString& c) { c.Format(L"dest:%s\r\n", L"NAV.EXE"); }, L"dest:NAV.EXE\r\n"},
      {[](CString& c) { c.Format(L"EventThread_%x_%0x", 0x1cu, 0xabcu); }, L"EventThread_1c_abc"},
      {[](CString& c) { c.Format(L"[%5d|%-3d|%03x|%c]", 42, 7, 10, L'Z'); }, L"[   42|7  |00a|Z]"},
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

TEST(CStringOps, ConcatenatesComparesAndCuts) {
  CString dir(L"\\SDMMC");
  CString path = dir + L"\\" + CString(L"a.txt");
  EXPECT_EQ(path, L"\\SDMMC\\a.txt");
  EXPECT_EQ(path.ReverseFind(L'\\'), 6);
  EXPECT_EQ(path.Mid(path.ReverseFind(L'\\') + 1), L"a.txt");
  EXPECT_EQ(path.Left(6), L"\\SDMMC");
  EXPECT_EQ(path.Left(-1), L"");
  EXPECT_EQ(path.Mid(99), L"");
  EXPECT_TRUE(CString(L"a") < CString(L"b"));
  EXPECT_EQ(CString(L"\u5b8b").ToUtf8(), "\xe5\xae\x8b");
  EXPECT_EQ(Utf8ToWide("\xe5\xae\x8b\xff"), L"\u5b8b\ufffd");
}

}  // namespace
