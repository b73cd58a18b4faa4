// A copy keeps contents, permission bits and modification time. One to a new name is made under
// that name and nowhere else; one over an existing file is written aside and renamed over it, so
// the old file stays whole until the new one is. A copy that fails (here at the file size limit,
// as on a full disk) leaves the folder as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/host/device/device.h"
#include "tests/host/image_fixture.h"

namespace {

// The folder's name events so far, in order: "create f", "modify f", "close f", "from f", "to f",
// "delete f"; a name other than strName reads "~".
std::vector<std::string> Events(int fdNotify, const std::string& strName) {
  static const std::pair<uint32_t, const char*> kKinds[] = {
      {IN_CREATE, "create "},   {IN_MODIFY, "modify "}, {IN_CLOSE_WRITE, "close "},
      {IN_MOVED_FROM, "from "}, {IN_MOVED_TO, "to "},   {IN_DELETE, "delete "}};
  std::vector<std::string> out;
  alignas(inotify_event) char buf[4096];
  for (ssize_t n; (n = ::read(fdNotify, buf, sizeof buf)) > 0;) {
    for (ssize_t i = 0; i < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + i);
      for (const auto& [mask, what] : kKinds)
        if (ev->mask & mask) out.push_back(what + (strName == ev->name ? strName : "~"));
      i += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  return out;
}

TEST(HostCopyInPlace, NewNamesAreWrittenInPlaceAndOldFilesReplacedWhole) {
  using Events_ = std::vector<std::string>;
  const Events_ kNew = {"create f", "modify f", "close f"};
  const Events_ kOver = {"create ~", "modify ~", "close ~", "from ~", "to f"};
  struct Case {
    const char* name;
    size_t nSize;
    mode_t mode;
    bool bExists;
    rlim_t nLimit;  // file size limit during the copy; 0: none
    Events_ events;
  };
  const Case cases[] = {
      {"new name, group-writable past the creation mask", 2 << 20, 0664, false, 0, kNew},
      {"empty and read-only to a new name", 0, 0444, false, 0, {"create f", "close f"}},
      {"over an old file, odd size", 65537, 0600, true, 0, kOver},
      {"new name, disk full",
       2 << 20,
       0644,
       false,
       1 << 20,
       {"create f", "modify f", "delete f", "close f"}},
      {"over an old file, disk full",
       2 << 20,
       0644,
       true,
       1 << 20,
       {"create ~", "modify ~", "delete ~", "close ~"}},
  };
  sighandler_t oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTempImage image;
    image.Folder("Dst");
    std::string bytes;
    for (size_t i = 0; i < c.nSize; ++i) bytes += static_cast<char>('a' + i % 23);
    image.File("src", bytes, c.mode);
    const struct timespec times[2] = {{1000000000, 111}, {1234567890, 123456789}};
    ::utimensat(AT_FDCWD, image.Host("src").c_str(), times, 0);
    if (c.bExists) image.File("Dst/f", "old");
    CHostDevice dev(image.Root());
    const int fdOld = ::open(image.Host("Dst/f").c_str(), O_RDONLY);
    const int fdNotify = ::inotify_init1(IN_NONBLOCK);
    ::inotify_add_watch(fdNotify, image.Host("Dst").c_str(),
                        IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVE | IN_DELETE);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const struct rlimit lim = {c.nLimit ? c.nLimit : old.rlim_cur, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    const BOOL bCopied = dev.CopyFile(L"\\src", L"\\Dst\\f", FALSE);
    const DWORD dwError = bCopied ? 0 : GetLastError();
    ::setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(Events(fdNotify, "f"), c.events);
    EXPECT_EQ(dwError, c.nLimit ? static_cast<DWORD>(ERROR_DISK_FULL) : 0u);
    struct stat st {};
    const bool bThere = ::stat(image.Host("Dst/f").c_str(), &st) == 0;
    EXPECT_EQ(bThere, c.bExists || !c.nLimit);
    EXPECT_TRUE(ReadHostFile(image.Host("Dst/f")) == (c.nLimit ? (c.bExists ? "old" : "") : bytes));
    if (!c.nLimit) {
      EXPECT_EQ(st.st_mode & 07777, c.mode);
      EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
      EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
    }
    // A reader of the old file reads it whole to the end.
    char buf[8] = {};
    if (fdOld >= 0) {
      EXPECT_EQ(std::string(buf, ::pread(fdOld, buf, sizeof buf, 0)), "old");
      ::close(fdOld);
    }
    ::close(fdNotify);
  }
  ::signal(SIGXFSZ, oldHandler);
}

}  // namespace
