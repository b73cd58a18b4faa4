// Whole-file copies on the host: contents, permission bits and modification time kept; one to a
// new name made under that name, one over an old file written aside and renamed over it whole; a
// copy onto the file itself refused whatever names it; a failure (the file size limit, as a full
// disk would) or SIGTERM midway leaves the destination as it was and no temporary file behind;
// holes stay holes. On media that hold no permission bits (FAT) the copy keeps contents and
// times, to the medium's resolution.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/host/device/termination.h"
#include "platform/host/device/unique_fd.h"
#include "tests/support/image.h"
#include "tests/support/volume.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  unsigned v = 12345;
  for (auto& ch : s) ch = static_cast<char>((v = v * 1103515245u + 12345u) >> 16);
  return s;
}

// The names made in the folder fdNotify watches, in order: "+f" created, ">f" renamed to; a name
// other than strName reads "~".
std::string Made(int fdNotify, const std::string& strName) {
  std::string out;
  alignas(inotify_event) char buf[4096];
  for (ssize_t n; (n = ::read(fdNotify, buf, sizeof buf)) > 0;)
    for (const char* p = buf; p < buf + n;
         p += sizeof(inotify_event) + reinterpret_cast<const inotify_event*>(p)->len) {
      const auto* ev = reinterpret_cast<const inotify_event*>(p);
      out += (ev->mask & IN_CREATE ? "+" : ">") + (strName == ev->name ? strName : "~");
    }
  ::close(fdNotify);
  return out;
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

TEST(HostCopy, KeepsContentsModeAndTime) {
  const std::tuple<const char*, size_t, mode_t, bool> cases[] = {
      {"empty file to a new name", 0, 0644, false},
      {"several megabytes over an old file", 3 << 20, 0750, true},
      {"read-only source", 100, 0444, false},
      {"odd size", 65537, 0600, true},
      {"group-writable to a new name, past the file creation mask", 10, 0664, false},
  };
  CTempImage image;
  image.Folder("Dst");
  CHostDevice dev(image.Root());
  CDeviceScope scope(dev);
  CTree expected;
  int n = 0;
  for (const auto& [pszName, nSize, mode, bDestExists] : cases) {
    SCOPED_TRACE(pszName);
    const std::string name = "f" + std::to_string(n++);
    const std::string src = image.Host("Src/" + name), dst = image.Host("Dst/" + name);
    image.File("Src/" + name, Pattern(nSize), mode);
    struct timespec times[2] = {{1000000000, 111}, {1234567890, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);
    if (bDestExists) image.File("Dst/" + name, "old contents", 0666);
    expected = image.Snapshot();
    expected[L"\\Dst\\" + Utf8ToWide(name)] = expected[L"\\Src\\" + Utf8ToWide(name)];
    const int fdNotify = ::inotify_init1(IN_NONBLOCK);
    ::inotify_add_watch(fdNotify, image.Host("Dst").c_str(), IN_CREATE | IN_MOVED_TO);
    EXPECT_TRUE(CopyFileW(Utf8ToWide("\\Src\\" + name).c_str(),
                          Utf8ToWide("\\Dst\\" + name).c_str(), FALSE));
    // A new name is written in place; an old file is replaced whole by a rename.
    EXPECT_EQ(Made(fdNotify, name), bDestExists ? "+~>" + name : "+" + name);
    const struct stat st = StatOf(dst);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(std::make_pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
              std::make_pair(time_t{1234567890}, 123456789L));
    // Nothing but the copy: no temporary file stays behind.
    EXPECT_EQ(image.Snapshot(), expected);
  }
  // Holes stay holes: 8 MiB with a few bytes in their middle take no more room copied.
  const int fd = ::open(image.Host("Src/sparse").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::pwrite(fd, "data", 4, 4 << 20), 4);
  ASSERT_EQ(::ftruncate(fd, 8 << 20), 0);
  ::close(fd);
  EXPECT_TRUE(CopyFileW(L"\\Src\\sparse", L"\\Dst\\sparse", FALSE));
  EXPECT_EQ(ReadHostFile(image.Host("Dst/sparse")), ReadHostFile(image.Host("Src/sparse")));
  EXPECT_LE(StatOf(image.Host("Dst/sparse")).st_blocks * 512, 64 << 10);
  // A copy's own names aside, what others make where it copies to is seen: the folder's time
  // tells (set here as a later clock tick would), and the look-up is made again.
  EXPECT_EQ(GetFileAttributesW(L"\\Dst\\theirs"), INVALID_FILE_ATTRIBUTES);
  image.File("Dst/theirs", "x");
  const struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, image.Host("Dst").c_str(), later, 0), 0);
  GetFileAttributesW(L"\\Src");  // two calls on: the first look-up serves no more
  GetFileAttributesW(L"\\Src");
  EXPECT_EQ(GetFileAttributesW(L"\\Dst\\theirs"), FILE_ATTRIBUTE_NORMAL);
}

TEST(HostCopy, OntoItselfThroughAnyNameIsRefusedAndAFailureLeavesTheDestinationAsItWas) {
  CTempImage image;
  CHostDevice dev(image.Root());
  CDeviceScope scope(dev);
  image.File("Src/a", "precious");
  image.Folder("Dst");
  ASSERT_EQ(::link(image.Host("Src/a").c_str(), image.Host("Dst/hard").c_str()), 0);
  image.File("Src/big", Pattern(2 << 20));
  image.File("Dst/old", "old", 0640);
  // A socket is refused from its type: opening one would fail otherwise (and a device node act).
  sockaddr_un addr{.sun_family = AF_UNIX, .sun_path = {}};
  image.Host("Src/sock").copy(addr.sun_path, sizeof addr.sun_path - 1);
  CUniqueFd fdSocket(::socket(AF_UNIX, SOCK_STREAM, 0));
  ASSERT_EQ(::bind(fdSocket.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const CTree before = image.Snapshot();
  const std::tuple<const wchar_t*, const wchar_t*, DWORD> cases[] = {
      {L"\\Src\\a", L"\\Src\\a", ERROR_SHARING_VIOLATION},
      {L"\\Src\\a", L"/Src//a", ERROR_SHARING_VIOLATION},
      {L"\\Dst\\..\\Src\\a", L"\\Src\\.\\a", ERROR_SHARING_VIOLATION},
      {L"\\Src\\a", L"\\Dst\\hard", ERROR_SHARING_VIOLATION},
      {L"\\Src\\big", L"\\Dst\\old", ERROR_DISK_FULL},
      {L"\\Src\\big", L"\\Dst\\new", ERROR_DISK_FULL},
      {L"\\Src\\sock", L"\\Dst\\new", ERROR_ACCESS_DENIED},
      {L"\\Src\\fifo", L"\\Dst\\new", ERROR_ACCESS_DENIED},
  };
  // Nor is a FIFO ever opened (an open without O_NONBLOCK would wait for a writer).
  ASSERT_EQ(::mkfifo(image.Host("Src/fifo").c_str(), 0644), 0);
  const int fdOpened = ::inotify_init1(IN_NONBLOCK);
  ::inotify_add_watch(fdOpened, image.Host("Src/fifo").c_str(), IN_OPEN);
  {
    CFileSizeLimit limit(1 << 20);
    for (const auto& [pszSource, pszDest, dwError] : cases) {
      SCOPED_TRACE(WideToUtf8(pszDest));
      EXPECT_FALSE(CopyFileW(pszSource, pszDest, FALSE));
      EXPECT_EQ(GetLastError(), dwError);
    }
    EXPECT_FALSE(dev.ReplaceFileContents(L"\\Dst\\old", Pattern(2 << 20)));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  }
  EXPECT_EQ(Made(fdOpened, ""), "");
  ::unlink(image.Host("Src/fifo").c_str());
  // SIGTERM while a replace stands still at the limit (copy, then write-back): the temporary file
  // goes with the process. (The thread sanitizer holds back signals raised in a handler.)
#ifndef __SANITIZE_THREAD__
  for (const bool bCopy : {true, false})
    EXPECT_EXIT(
        {
          OnTerminationSignal(&DieOfSignal);
          sigset_t term;  // SIGTERM for the watcher, the copying thread stalled in its handler
          sigemptyset(&term);
          sigaddset(&term, SIGTERM);
          ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
          CFileSizeLimit limit(1 << 20);
          struct sigaction stall {};
          stall.sa_handler = [](int) {
            for (::kill(::getpid(), SIGTERM);;) ::pause();
          };
          ::sigaction(SIGXFSZ, &stall, nullptr);
          bCopy ? CopyFileW(L"\\Src\\big", L"\\Dst\\old", FALSE)
                : dev.ReplaceFileContents(L"\\Dst\\old", Pattern(2 << 20));
        },
        testing::KilledBySignal(SIGTERM), "");
#endif
  EXPECT_EQ(image.Snapshot(), before);
  EXPECT_EQ(StatOf(image.Host("Dst/old")).st_mode & 07777, 0640u);
}

TEST(HostCopy, OntoMediaWithoutPermissionBitsKeepsContentsAndTimes) {
  CTempImage image;
  image.Folder("ResidentFlash");
  CTempVolume volume(EVolumeKind::kFat32, image.Host("ResidentFlash"));  // chmod: ENOSYS
  SKIP_UNLESS_MOUNTED(volume);
  CHostDevice dev(image.Root());
  CDeviceScope scope(dev);
  image.File("SDMMC/a", Pattern(70000), 0640);
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, image.Host("SDMMC/a").c_str(), times, 0), 0);
  // To a new name, over it (its read-only bit set and cleared where the medium holds none), and
  // Path.xml's write-back, new and over the old one.
  EXPECT_TRUE(CopyFileW(L"\\SDMMC\\a", L"\\ResidentFlash\\a", FALSE));
  EXPECT_TRUE(SetFileAttributesW(L"\\ResidentFlash\\a", FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(SetFileAttributesW(L"\\ResidentFlash\\a", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFileW(L"\\SDMMC\\a", L"\\ResidentFlash\\a", FALSE));
  for (const char* pszXml : {"<x/>", "<y/>"})
    EXPECT_TRUE(dev.ReplaceFileContents(L"\\ResidentFlash\\Path.xml", pszXml));
  CTree tree = image.Snapshot();
  EXPECT_EQ(tree[L"\\ResidentFlash\\a"].strContents, Pattern(70000));
  EXPECT_EQ(tree[L"\\ResidentFlash\\Path.xml"].strContents, "<y/>");
  EXPECT_EQ(tree.size(), 5u);  // the two volumes, a, Path.xml and the source: nothing else
  EXPECT_EQ(StatOf(image.Host("ResidentFlash/a")).st_mtim.tv_sec, 1234567890);  // even: FAT's 2 s
  // A medium that holds them still gets them, after a file that came out right by itself the
  // creation mask's share too, each time.
  image.File("SDMMC/w", "w", 0666);
  image.File("SDMMC/v", "v", 0666);
  for (const auto& [pszName, mode] :
       {std::pair{"a", 0640u}, std::pair{"w", 0666u}, std::pair{"v", 0666u}}) {
    const std::wstring strFrom = L"\\SDMMC\\" + Utf8ToWide(pszName);
    EXPECT_TRUE(CopyFileW(strFrom.c_str(), (strFrom + L"2").c_str(), FALSE));
    EXPECT_EQ(StatOf(image.Host("SDMMC/" + std::string(pszName) + "2")).st_mode & 07777, mode);
  }
  // The last look-ups keep their folders open: two in the root let the volume go.
  GetFileAttributesW(L"\\ResidentFlash");
  GetFileAttributesW(L"\\SDMMC");
}

}  // namespace
