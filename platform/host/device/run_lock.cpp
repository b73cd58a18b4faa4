#include "platform/host/device/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool LockDeviceRoot(const std::string& strRoot, std::string& strError) {
  // Kept open until the process ends: closing it would let the lock go.
  static int s_fdRoot = -1;
  if (s_fdRoot >= 0) return true;
  const int fd = ::open(strRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    strError = "the device root " + strRoot + " cannot be used: " + std::strerror(errno);
    return true;
  }
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    strError = "another recovery is running on the device root " + strRoot;
    return false;
  }
  s_fdRoot = fd;
  return true;
}
