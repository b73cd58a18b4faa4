#include "platform/host/device/name_case.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cwctype>
#include <unordered_set>

#include "platform/cstring.h"
#include "platform/host/device/unique_fd.h"

namespace {

locale_t CaseLocale() {
  static const locale_t loc = [] {
    locale_t l = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l ? l : ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  return loc;
}

// What one thread knows of one folder's names: their keys' hashes, a hit only a hint to read the
// folder. It stands while the folder's modification time does, or was moved by this thread.
struct CFolderNames {
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec mtime {};
  bool bMadeHere = false;
  bool bFilling = false;  // this thread has made names in it
  std::unordered_set<size_t> keys;
};

// A walk goes down and comes back: the folders on its way are kept. A new one takes the slot after
// the one searched last, which holds a folder below it that the walk has left, or the oldest.
constexpr size_t kFolders = 8;
thread_local std::array<CFolderNames, kFolders> t_folders;
thread_local size_t t_nLast = kFolders;  // the folder searched last; none yet

// The hash of the name's key, without making the key for a name all ASCII (most are): this runs
// for each name made.
size_t KeyHash(std::string_view strName) {
  constexpr size_t kPrime = 1099511628211ULL;
  size_t nHash = 14695981039346656037ULL;
  if (std::all_of(strName.begin(), strName.end(), [](char ch) { return ch > 0; })) {
    for (const char ch : strName)
      nHash = (nHash ^ static_cast<size_t>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch)) * kPrime;
    return nHash;
  }
  for (const wchar_t ch : CaseKey(strName)) nHash = (nHash ^ static_cast<size_t>(ch)) * kPrime;
  return nHash;
}

// Reads the folder's names: every key into keys when given, and those equal to strName in found.
bool ReadFolder(int fdFolder, const std::string& strName, std::unordered_set<size_t>* keys,
                std::vector<std::string>& found) {
  const int fd = ::openat(fdFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int nErrno = errno;
    ::close(fd);
    errno = nErrno;
    return false;
  }
  const std::wstring strKey = CaseKey(strName);
  const size_t nHash = KeyHash(strName);
  errno = 0;
  while (struct dirent* ent = ::readdir(dir)) {
    const char* name = ent->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    const size_t nEntry = KeyHash(name);
    if (keys) keys->insert(nEntry);
    if (nEntry == nHash && CaseKey(name) == strKey) found.emplace_back(name);
  }
  const int nErrno = errno;
  ::closedir(dir);
  errno = nErrno;
  return nErrno == 0;
}

// What was known of the folder still stands: unchanged since, or changed by this thread's last
// name made in it (bLast: it is the folder searched last), then known as it now stands.
bool StillKnown(CFolderNames& folder, const struct stat& st, bool bLast) {
  const bool bSame =
      folder.mtime.tv_sec == st.st_mtim.tv_sec && folder.mtime.tv_nsec == st.st_mtim.tv_nsec;
  if (!bSame && !(folder.bMadeHere && bLast)) return false;
  folder.mtime = st.st_mtim;
  folder.bMadeHere = false;
  return true;
}

}  // namespace

std::wstring CaseKey(std::string_view strName) {
  std::wstring wide = HostNameToWide(strName);
  const locale_t loc = CaseLocale();
  for (wchar_t& ch : wide) ch = static_cast<wchar_t>(::towupper_l(static_cast<wint_t>(ch), loc));
  return wide;
}

bool NamesEqualNoCase(int fdFolder, const std::string& strName, std::vector<std::string>& found) {
  found.clear();
  // fstat, not statx: no name to resolve, on older kernels too.
  struct stat st {};
  if (::fstat(fdFolder, &st) != 0) return false;
  size_t nSlot = kFolders;
  for (size_t i = 0; i < kFolders; ++i)
    if (t_folders[i].dev == st.st_dev && t_folders[i].ino == st.st_ino) nSlot = i;
  if (nSlot < kFolders) {
    CFolderNames& folder = t_folders[nSlot];
    if (StillKnown(folder, st, nSlot == t_nLast)) {
      t_nLast = nSlot;
      if (!folder.keys.count(KeyHash(strName))) return true;
      return ReadFolder(fdFolder, strName, nullptr, found);
    }
  } else {
    nSlot = t_nLast == kFolders ? 0 : (t_nLast + 1) % kFolders;
  }
  CFolderNames& folder = t_folders[nSlot];
  folder = CFolderNames{};
  t_nLast = kFolders;
  if (!ReadFolder(fdFolder, strName, &folder.keys, found)) {
    folder = CFolderNames{};
    return false;
  }
  folder.dev = st.st_dev;
  folder.ino = st.st_ino;
  folder.mtime = st.st_mtim;
  t_nLast = nSlot;
  return true;
}

void NoteNameMade(const std::string& strName) {
  if (t_nLast == kFolders) return;
  t_folders[t_nLast].keys.insert(KeyHash(strName));
  t_folders[t_nLast].bMadeHere = true;
  t_folders[t_nLast].bFilling = true;
}

bool KnownAbsent(int fdFolder, const std::string& strName) {
  if (t_nLast == kFolders || !t_folders[t_nLast].bFilling) return false;
  CFolderNames& folder = t_folders[t_nLast];
  struct stat st {};
  if (::fstat(fdFolder, &st) != 0 || st.st_dev != folder.dev || st.st_ino != folder.ino)
    return false;
  return StillKnown(folder, st, true) && !folder.keys.count(KeyHash(strName));
}

void NoteNameFound(const std::string& strName) {
  if (t_nLast != kFolders) t_folders[t_nLast].keys.insert(KeyHash(strName));
}
