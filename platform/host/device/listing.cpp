#include "platform/host/device/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>

#include "platform/cstring.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/facts.h"
#include "platform/host/device/temp_files.h"

namespace {

FILETIME FileTimeOf(const struct statx_timestamp& ts) {
  // 100 ns steps since 1601-01-01, as the device counts.
  constexpr long long kEpochDiff = 11644473600LL;
  unsigned long long v =
      static_cast<unsigned long long>(ts.tv_sec + kEpochDiff) * 10000000ULL + ts.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFF), static_cast<DWORD>(v >> 32)};
}

void SetName(WIN32_FIND_DATAW& data, const std::string& strName) {
  const std::wstring wide = HostNameToWide(strName);
  size_t n = std::min(wide.size(), static_cast<size_t>(MAX_PATH - 1));
  std::wmemcpy(data.cFileName, wide.c_str(), n);
  data.cFileName[n] = L'\0';
}

// The names in the folder, "." and ".." left out, with their types; false with errno.
bool ReadNames(int fd, std::vector<std::string>& names, std::vector<unsigned char>& types) {
  // The stream takes its own descriptor: the listing keeps fd for the look-ups.
  int fdStream = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fdStream < 0) return false;
  DIR* dir = ::fdopendir(fdStream);
  if (!dir) {
    int nErrno = errno;
    ::close(fdStream);
    errno = nErrno;
    return false;
  }
  errno = 0;
  while (struct dirent* ent = ::readdir(dir)) {
    const char* name = ent->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    // A replace's temporary file is no content: left by an ended run, it goes.
    if (TempFiles::Skip(fd, name)) continue;
    names.emplace_back(name);
    types.push_back(ent->d_type);
  }
  int nErrno = errno;
  ::closedir(dir);
  errno = nErrno;
  return nErrno == 0;
}

}  // namespace

std::unique_ptr<CHostListing> CHostListing::Open(std::shared_ptr<const CDeviceImage> pImage,
                                                 std::uint64_t nOwner,
                                                 const std::wstring& strFolder, DWORD& dwError) {
  CDevicePath path;
  if (!CDeviceImage::Split(strFolder, path)) {
    dwError = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  auto fd = std::make_shared<const CUniqueFd>(
      pImage->Open(path, O_RDONLY | O_DIRECTORY, 0, EResolve::Read, dwError));
  if (!fd->IsValid()) {
    if (dwError == ERROR_FILE_NOT_FOUND) dwError = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  std::vector<std::string> names;
  std::vector<unsigned char> types;
  if (!ReadNames(fd->Get(), names, types)) {
    dwError = Win32FromErrno(errno);
    return nullptr;
  }
  return std::unique_ptr<CHostListing>(
      new CHostListing(std::move(pImage), nOwner, path.Rel(), std::move(fd), std::move(names),
                       std::move(types)));
}

CHostListing::CHostListing(std::shared_ptr<const CDeviceImage> pImage, std::uint64_t nOwner,
                           std::string strFolder, std::shared_ptr<const CUniqueFd> fd,
                           std::vector<std::string> names, std::vector<unsigned char> types)
    : m_pImage(std::move(pImage)),
      m_nOwner(nOwner),
      m_pFolder(std::make_shared<const std::string>(std::move(strFolder))),
      m_fd(std::move(fd)),
      m_names(std::move(names)),
      m_types(std::move(types)) {}

bool CHostListing::Next(WIN32_FIND_DATAW& data) {
  HostFacts::NextCall();
  while (m_nNext < m_names.size()) {
    const unsigned char nType = m_types[m_nNext];
    std::string& name = m_names[m_nNext++];
    if (m_bTypesOnly && nType != DT_UNKNOWN) {
      // A link is listed as a file, as its own facts would tell.
      data = WIN32_FIND_DATAW{};
      data.dwFileAttributes = nType == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
      SetName(data, name);
      return true;
    }
    CFact fact;
    DWORD dwError = 0;
    const bool bStat = m_pImage->Stat(m_fd->Get(), name, fact.st, dwError);
    if (!bStat && dwError == ERROR_FILE_NOT_FOUND) continue;  // gone meanwhile
    data = WIN32_FIND_DATAW{};
    SetName(data, name);
    if (!bStat) {
      // Any other failure hides what the entry holds: the walk must not pass it over.
      SetLastError(dwError);
      return false;
    }
    data.dwFileAttributes = m_pImage->WordOf(m_fd->Get(), name, fact.st);
    data.ftLastWriteTime = FileTimeOf(fact.st.stx_mtime);
    data.ftLastAccessTime = FileTimeOf(fact.st.stx_atime);
    data.nFileSizeHigh = static_cast<DWORD>(fact.st.stx_size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(fact.st.stx_size & 0xFFFFFFFF);
    // The caller's next calls name the entry by its folder's path and the listed name.
    fact.pFolder = m_pFolder;
    fact.fdParent = m_fd;
    fact.strName = std::move(name);
    fact.bExists = true;
    HostFacts::Keep(m_nOwner, std::move(fact));
    return true;
  }
  return false;
}
