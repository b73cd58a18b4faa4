// A copy to a new name is made under that name and nowhere else; one over an existing file is
// written aside and renamed over it, so the old file stays whole until the new one is. A copy
// that fails (here at the file size limit, as on a full disk) leaves the folder as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/host/device/device.h"
#include "tests/host/image_fixture.h"

namespace {

// The name events of one folder, in order: "create f", "modify f", "close f", "from f", "to f",
// "delete f"; a name other than the destination's reads "~".
class CFolderEvents {
 public:
  explicit CFolderEvents(const std::string& strFolder) : m_fd(::inotify_init1(IN_NONBLOCK)) {
    ::inotify_add_watch(m_fd, strFolder.c_str(),
                        IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVE | IN_DELETE);
  }
  ~CFolderEvents() { ::close(m_fd); }
  std::vector<std::string> Take(const std::string& strName) {
    std::vector<std::string> out;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(m_fd, buf, sizeof buf)) > 0;) {
      for (char* p = buf; p < buf + n; p += sizeof(inotify_event) + ((inotify_event*)p)->len) {
        const auto* ev = reinterpret_cast<const inotify_event*>(p);
        const char* what = ev->mask & IN_CREATE        ? "create "
                           : ev->mask & IN_MODIFY      ? "modify "
                           : ev->mask & IN_CLOSE_WRITE ? "close "
                           : ev->mask & IN_MOVED_FROM  ? "from "
                           : ev->mask & IN_MOVED_TO    ? "to "
                                                       : "delete ";
        out.push_back(what + (ev->len && strName == ev->name ? strName : std::string("~")));
      }
    }
    return out;
  }

 private:
  int m_fd;
};

TEST(HostCopyInPlace, NewNamesAreWrittenInPlaceAndOldFilesReplacedWhole) {
  using Events = std::vector<std::string>;
  struct Case {
    const char* name;
    bool bExists;
    rlim_t nLimit;  // file size limit during the copy; 0: none
    Events events;
  };
  const Case cases[] = {
      {"new name", false, 0, {"create f", "modify f", "close f"}},
      {"new name, disk full", false, 1 << 20, {"create f", "modify f", "delete f", "close f"}},
      {"existing name", true, 0, {"create ~", "modify ~", "close ~", "from ~", "to f"}},
      {"existing name, disk full", true, 1 << 20, {"create ~", "modify ~", "delete ~", "close ~"}},
  };
  const std::string bytes(2 << 20, 'n');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTempImage image;
    image.Folder("Dst");
    image.File("src", bytes, 0640);
    if (c.bExists) image.File("Dst/f", "old", 0600);
    CHostDevice dev(image.Root());
    IDeviceBackend* pPrevious = InstallDeviceBackend(&dev);
    const int fdOld = ::open(image.Host("Dst/f").c_str(), O_RDONLY);
    CFolderEvents events(image.Host("Dst"));
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const struct rlimit lim = {c.nLimit ? c.nLimit : old.rlim_cur, old.rlim_max};
    sighandler_t oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &lim);
    const BOOL bCopied = CopyFileW(L"\\src", L"\\Dst\\f", FALSE);
    const DWORD dwError = GetLastError();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    InstallDeviceBackend(pPrevious);

    EXPECT_EQ(events.Take("f"), c.events);
    EXPECT_EQ(bCopied, !c.nLimit);
    EXPECT_EQ(dwError, c.nLimit ? static_cast<DWORD>(ERROR_DISK_FULL) : dwError);
    // Nothing but the destination, whole: the new copy, or the old file, or nothing.
    std::vector<std::string> names;
    for (const auto& ent : std::filesystem::directory_iterator(image.Host("Dst")))
      names.push_back(ent.path().filename().string() + "=" + ReadHostFile(ent.path()).substr(0, 3));
    const bool bThere = c.bExists || !c.nLimit;
    EXPECT_EQ(names, bThere ? Events{c.nLimit ? "f=old" : "f=nnn"} : Events{});
    EXPECT_EQ(ReadHostFile(image.Host("Dst/f")) == bytes, !c.nLimit);
    // A reader of the old file keeps reading it whole.
    char buf[8] = {};
    if (fdOld >= 0) {
      EXPECT_EQ(std::string(buf, ::pread(fdOld, buf, sizeof buf, 0)), "old");
      ::close(fdOld);
    }
  }
}

}  // namespace
