#include "tests/host/image_fixture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/cstring.h"

extern char** environ;

namespace fs = std::filesystem;

CTempImage::CTempImage() {
  char tmpl[] = "/tmp/orvane-image-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  m_strRoot = tmpl;
}

CTempImage::~CTempImage() {
  std::error_code ec;
  // Read-only folders would stop the removal of what they hold for a user other than root.
  for (auto it = fs::recursive_directory_iterator(m_strRoot, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::permissions(m_strRoot, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(m_strRoot, ec);
}

void CTempImage::Folder(const std::string& strRel, mode_t mode) const {
  fs::create_directories(Host(strRel));
  ::chmod(Host(strRel).c_str(), mode);
}

void CTempImage::File(const std::string& strRel, const std::string& strContents,
                      mode_t mode) const {
  std::ofstream(Host(strRel), std::ios::binary) << strContents;
  ::chmod(Host(strRel).c_str(), mode);
}

void CTempImage::Link(const std::string& strRel, const std::string& strTarget) const {
  fs::create_symlink(strTarget, Host(strRel));
}

std::map<std::wstring, CFakeEntry> CTempImage::Snapshot() const {
  std::map<std::wstring, CFakeEntry> out;
  for (const auto& ent : fs::recursive_directory_iterator(m_strRoot)) {
    std::string rel = ent.path().lexically_relative(m_strRoot).string();
    std::wstring dev = L"\\" + Utf8ToWide(rel);
    for (auto& ch : dev)
      if (ch == L'/') ch = L'\\';
    struct stat st {};
    ::lstat(ent.path().c_str(), &st);
    bool writable = st.st_mode & S_IWUSR;
    if (S_ISLNK(st.st_mode)) {
      out[dev] = {FILE_ATTRIBUTE_NORMAL, "-> " + fs::read_symlink(ent.path()).string()};
    } else if (S_ISDIR(st.st_mode)) {
      bool volume = rel == "ResidentFlash" || rel == "SDMMC";
      out[dev] = {volume ? FILE_ATTRIBUTE_VOLUME_ROOT
                         : FILE_ATTRIBUTE_DIRECTORY | (writable ? 0 : FILE_ATTRIBUTE_READONLY),
                  ""};
    } else {
      out[dev] = {writable ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY,
                  ReadHostFile(ent.path())};
    }
  }
  return out;
}

std::string ReadHostFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t Spawn(const std::string& strProgram, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(strProgram.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, strProgram.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("posix_spawn " + strProgram);
  return pid;
}

void KillAndReap(pid_t pid) {
  if (pid <= 0) return;  // kill(0) would hit our whole process group
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

pid_t VanishedPid() {
  pid_t pid = Spawn("/bin/true", {});
  ::waitpid(pid, nullptr, 0);
  return pid;
}

bool IsAlive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}
