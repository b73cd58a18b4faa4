#include "platform/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

std::mutex g_logMutex;
int g_fdLog = -1;
std::string g_strOwner;
std::string g_strOutcome;
bool g_bClosed = false;

// Local time to the millisecond with its offset from UTC: 2024-05-01T12:00:00.123+0200.
std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char date[32], zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
  std::strftime(zone, sizeof zone, "%z", &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s.%03d%s", date, static_cast<int>(ms), zone);
  return buf;
}

// One write per line: O_APPEND puts each whole line at the end, also between processes.
void WriteLine(const std::string& strLine) {
  std::string text = Timestamp() + " " + strLine + "\n";
  const char* p = text.data();
  size_t n = text.size();
  while (n > 0) {
    ssize_t w = ::write(g_fdLog, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;  // a full or failing medium must not stop the recovery
    p += w;
    n -= static_cast<size_t>(w);
  }
}

}  // namespace

bool OpenRunLog(const std::string& strPath, const std::string& strOwner, std::string& strError) {
  // Without a wait: a FIFO nobody reads would hold the start for ever.
  int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    strError = "cannot open the log " + strPath + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    strError = "cannot open the log " + strPath + ": not a regular file";
    return false;
  }
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (g_fdLog >= 0) ::close(g_fdLog);
  g_fdLog = fd;
  g_strOwner = strOwner;
  g_bClosed = false;
  return true;
}

void LogLines(const std::string& strUtf8) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (g_fdLog < 0 || g_bClosed) return;
  size_t nStart = 0;
  while (nStart < strUtf8.size()) {
    size_t nEnd = strUtf8.find('\n', nStart);
    if (nEnd == std::string::npos) nEnd = strUtf8.size();
    std::string line = strUtf8.substr(nStart, nEnd - nStart);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) WriteLine(line);
    nStart = nEnd + 1;
  }
}

void SetRunOutcome(const char* pszFormat, ...) {
  char buf[256];
  va_list args;
  va_start(args, pszFormat);
  std::vsnprintf(buf, sizeof buf, pszFormat, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_strOutcome = buf;
}

void CloseRunLog(int nStatus, const std::string& strHow) {
  std::lock_guard<std::mutex> lock(g_logMutex);
  if (g_fdLog < 0 || g_bClosed) return;
  std::string line = g_strOwner + " ended: " +
                     (g_strOutcome.empty() ? std::string("did not finish") : g_strOutcome);
  if (!strHow.empty()) line += ", " + strHow;
  WriteLine(line + "; exit status " + std::to_string(nStatus));
  g_bClosed = true;
}
