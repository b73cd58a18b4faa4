// Qt's runtime folder, where it keeps its sockets and the simulator its screen file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/host/install.h"

namespace {

// The user's own folder under /tmp, made once and reused: runs leave nothing behind. Empty when
// /tmp cannot hold one (read-only, say).
std::string PrivateFolder() {
  std::string strFolder = "/tmp/orvane-runtime-" + std::to_string(::getuid());
  if (::mkdir(strFolder.c_str(), 0700) != 0 && errno != EEXIST) return "";
  struct stat st {};
  if (::lstat(strFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 0077) != 0)
    return "";
  return strFolder;
}

}  // namespace

std::string PrepareQtRuntimeFolder() {
  if (const char* psz = std::getenv("XDG_RUNTIME_DIR"); psz && *psz) return psz;
  std::string strFolder = PrivateFolder();
  if (!strFolder.empty()) ::setenv("XDG_RUNTIME_DIR", strFolder.c_str(), 1);
  return strFolder;
}
