#include "tests/support/image.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "platform/cstring.h"
#include "platform/kernel.h"
#include "platform/runtime.h"

extern char** environ;

namespace fs = std::filesystem;

void PrintTo(const CEntry& entry, std::ostream* os) {
  const std::string& s = entry.strContents;
  bool bText = s.size() <= 80;
  for (char ch : s) bText = bText && ch >= ' ' && ch < 127;
  *os << "{0x" << std::hex << entry.dwAttributes << std::dec << " ";
  if (bText)
    *os << std::quoted(s) << "}";
  else
    *os << s.size() << " bytes}";
}

CTempImage::CTempImage() {
  char tmpl[] = "/dev/shm/orvane-image-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  m_strRoot = tmpl;
}

CTempImage::~CTempImage() {
  std::error_code ec;
  // A folder without the owner write bit would keep its entries from a user other than root.
  for (auto it = fs::recursive_directory_iterator(m_strRoot, ec); !ec && it != decltype(it)();
       it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(m_strRoot, ec);
}

void CTempImage::Folder(const std::string& strRel, mode_t mode) const {
  fs::create_directories(Host(strRel));
  ::chmod(Host(strRel).c_str(), mode);
}

void CTempImage::File(const std::string& strRel, const std::string& strContents,
                      mode_t mode) const {
  fs::create_directories(fs::path(Host(strRel)).parent_path());
  std::ofstream(Host(strRel), std::ios::binary) << strContents;
  ::chmod(Host(strRel).c_str(), mode);
}

void CTempImage::Link(const std::string& strRel, const std::string& strTarget) const {
  fs::create_directories(fs::path(Host(strRel)).parent_path());
  fs::create_symlink(strTarget, Host(strRel));
}

namespace {

// Calls fn(path, contents, bFolder, bReadOnly) for each entry of Lay's notation.
template <class F>
void ForEachEntry(const std::string& strEntries, F fn) {
  std::istringstream in(strEntries);
  for (std::string entry; in >> entry;) {
    const size_t nEq = entry.find('=');
    const bool bReadOnly = entry.back() == '!';
    if (bReadOnly) entry.pop_back();
    if (nEq == std::string::npos)
      fn(entry.substr(0, entry.size() - 1), std::string(), true, bReadOnly);
    else
      fn(entry.substr(0, nEq), entry.substr(nEq + 1), false, bReadOnly);
  }
}

std::wstring DevicePath(const std::string& strRel) {
  std::wstring dev = L"\\" + HostNameToWide(strRel);
  for (auto& ch : dev)
    if (ch == L'/') ch = L'\\';
  return dev;
}

DWORD Word(const std::string& strRel, bool bFolder, bool bReadOnly) {
  if (strRel == "ResidentFlash" || strRel == "SDMMC") return FILE_ATTRIBUTE_VOLUME_ROOT;
  if (bFolder) return FILE_ATTRIBUTE_DIRECTORY | (bReadOnly ? FILE_ATTRIBUTE_READONLY : 0);
  return bReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

void CTempImage::Lay(const std::string& strEntries) const {
  ForEachEntry(strEntries, [&](const std::string& strRel, const std::string& strContents,
                               bool bFolder, bool bReadOnly) {
    if (bFolder)
      Folder(strRel, bReadOnly ? 0555 : 0755);
    else if (strContents.starts_with('>'))
      Link(strRel, strContents.substr(1));
    else
      File(strRel, strContents, bReadOnly ? 0444 : 0644);
  });
}

CTree Entries(const std::string& strEntries) {
  CTree tree;
  ForEachEntry(strEntries, [&](const std::string& strRel, const std::string& strContents,
                               bool bFolder, bool bReadOnly) {
    tree[DevicePath(strRel)] = {
        Word(strRel, bFolder, bReadOnly),
        strContents.starts_with('>') ? "-> " + strContents.substr(1) : strContents};
  });
  return tree;
}

CTree CTempImage::Snapshot() const {
  CTree tree;
  for (const auto& ent : fs::recursive_directory_iterator(m_strRoot)) {
    const std::string rel = ent.path().lexically_relative(m_strRoot).string();
    struct stat st {};
    ::lstat(ent.path().c_str(), &st);
    const bool bReadOnly = !(st.st_mode & S_IWUSR);
    if (S_ISLNK(st.st_mode))
      tree[DevicePath(rel)] = {FILE_ATTRIBUTE_NORMAL,
                               "-> " + fs::read_symlink(ent.path()).string()};
    else
      tree[DevicePath(rel)] = {Word(rel, S_ISDIR(st.st_mode), bReadOnly),
                               S_ISDIR(st.st_mode) ? "" : ReadHostFile(ent.path())};
  }
  return tree;
}

CFileSizeLimit::CFileSizeLimit(rlim_t nBytes) {
  ::getrlimit(RLIMIT_FSIZE, &m_old);
  m_pfnOld = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = m_old;
  lim.rlim_cur = nBytes;
  ::setrlimit(RLIMIT_FSIZE, &lim);
}

CFileSizeLimit::~CFileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &m_old);
  ::signal(SIGXFSZ, m_pfnOld);
}

std::string ReadHostFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

CProgram::CProgram(const std::string& strProgram) {
  if (!fs::exists(strProgram)) {
    fs::create_directories(fs::path(strProgram).parent_path());
    fs::copy_file("/bin/sleep", strProgram);
  }
  std::string strArg = "600";
  char* argv[] = {const_cast<char*>(strProgram.c_str()), strArg.data(), nullptr};
  if (::posix_spawn(&m_pid, strProgram.c_str(), nullptr, nullptr, argv, environ) != 0)
    throw std::runtime_error("posix_spawn " + strProgram);
}

CProgram::~CProgram() {
  ::kill(m_pid, SIGKILL);
  ::waitpid(m_pid, nullptr, 0);
}

bool CProgram::Alive() const {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

DWORD VanishedPid() {
  char szTrue[] = "/bin/true";
  char* argv[] = {szTrue, nullptr};
  pid_t pid = 0;
  ::posix_spawn(&pid, szTrue, nullptr, nullptr, argv, environ);
  ::waitpid(pid, nullptr, 0);
  return static_cast<DWORD>(pid);
}

namespace {
std::atomic<CDiagCapture*> g_pCapture{nullptr};
}  // namespace

CDiagCapture::CDiagCapture(std::function<void(const std::string&)> fnEach)
    : m_fnEach(std::move(fnEach)) {
  g_pCapture = this;
  SetDiagSink(&CDiagCapture::Sink);
}

CDiagCapture::~CDiagCapture() {
  SetDiagSink(nullptr);
  g_pCapture = nullptr;
}

std::vector<std::string> CDiagCapture::Lines() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}

void CDiagCapture::Sink(const std::string& strUtf8) {
  CDiagCapture* self = g_pCapture.load();
  if (!self) return;
  if (self->m_fnEach) self->m_fnEach(strUtf8);
  std::lock_guard<std::mutex> lock(self->m_mutex);
  self->m_lines.push_back(strUtf8);
}

namespace {

class CProbe : public CKernelObject {
 public:
  DWORD Wait(DWORD) override { return WAIT_FAILED; }
};

UINT_PTR NextHandle() {
  HANDLE h = RegisterHandle(std::make_shared<CProbe>());
  CloseHandle(h);
  return reinterpret_cast<UINT_PTR>(h);
}

}  // namespace

CHandleWatch::CHandleWatch() : m_nFirst(NextHandle()) {}

std::vector<UINT_PTR> CHandleWatch::Leaked() const {
  std::vector<UINT_PTR> open;
  const UINT_PTR nEnd = NextHandle();
  for (UINT_PTR h = m_nFirst + 4; h < nEnd; h += 4)
    if (LookupHandle(reinterpret_cast<HANDLE>(h))) open.push_back(h);
  return open;
}
