// Flushing a file system of the image to its medium.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/device/device.h"
#include "platform/host/device/errors.h"

BOOL CHostDevice::FlushFileSystem(const std::wstring& strPath) {
  HostFacts::NextCall();
  std::wstring strAt = strPath;
  for (;;) {
    DWORD dwError = ERROR_ACCESS_DENIED;
    CDevicePath path;
    CUniqueFd fd(CDeviceImage::Split(strAt, path)
                     ? m_pImage->Open(path, O_RDONLY | O_DIRECTORY, 0, EResolve::Read, dwError)
                     : -1);
    if (fd.IsValid()) {
      if (::syncfs(fd.Get()) == 0) return TRUE;
      SetLastError(Win32FromErrno(errno));
      return FALSE;
    }
    // A path that is gone (a folder just deleted) is flushed through the folder that held it.
    const size_t nSep = strAt.find_last_of(L"\\/");
    if ((dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND) ||
        nSep == std::wstring::npos || strAt == L"\\") {
      SetLastError(dwError);
      return FALSE;
    }
    strAt.resize(nSep == 0 ? 1 : nSep);
  }
}
