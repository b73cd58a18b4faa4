// A folder of the flash that another process moves out of the image while the engine empties or
// fills it takes none of the engine's changes with it: each change finds its folder in the image
// when it is made, the ones that no longer can fail with 3, and a copy that lost its folder does
// not report success.
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "engine/copy_error.h"
#include "engine/copy_tree.h"
#include "engine/delete_tree.h"
#include "platform/files.h"
#include "platform/host/device/device.h"
#include "platform/kernel.h"
#include "tests/host/image_fixture.h"

namespace {

namespace fs = std::filesystem;

// Every entry under root by relative path: a folder "/", a file its contents.
std::map<std::string, std::string> Tree(const std::string& strRoot) {
  std::map<std::string, std::string> out;
  for (const auto& ent : fs::recursive_directory_iterator(strRoot))
    out[fs::relative(ent.path(), strRoot).string()] =
        ent.is_directory() ? "/" : ReadHostFile(ent.path());
  return out;
}

// The host device, whose fifth deletion or copy begins only once a mover thread has moved a
// folder out of the image and noted what it took.
class CMovedDevice : public CHostDevice {
 public:
  CMovedDevice(const std::string& strRoot, std::string strFrom, std::string strTo)
      : CHostDevice(strRoot), m_strFrom(std::move(strFrom)), m_strTo(std::move(strTo)) {}
  BOOL DeleteFile(const std::wstring& strPath) override {
    Move();
    return CHostDevice::DeleteFile(strPath);
  }
  BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest, BOOL b) override {
    Move();
    return CHostDevice::CopyFile(strSource, strDest, b);
  }
  void Move() {
    if (++m_nCalls == 5)
      std::thread([&] {
        ASSERT_EQ(::rename(m_strFrom.c_str(), m_strTo.c_str()), 0);
        m_taken = Tree(m_strTo);
      }).join();
  }
  std::string m_strFrom, m_strTo;
  int m_nCalls = 0;
  std::map<std::string, std::string> m_taken;  // what the folder held when it left
};

TEST(HostRenameOut, NoChangeFollowsAFolderMovedOutOfTheImage) {
  struct Case {
    const char* name;
    bool bCopy;             // filling the flash from the card, else emptying it
    const char* pszMoved;   // the folder moved out, at the fifth deletion or copy
    bool bFolderAboveLeft;  // the flash keeps P, left empty
  };
  const Case cases[] = {
      {"emptied: the folder", false, "ResidentFlash/P/A", false},
      {"emptied: a folder above", false, "ResidentFlash/P", false},
      {"filled: the folder", true, "ResidentFlash/P/A", true},
      {"filled: a folder above", true, "ResidentFlash/P", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTempImage image, outside;
    const std::string strFilled = c.bCopy ? "SDMMC/Backup/A/" : "ResidentFlash/P/A/";
    image.Folder("ResidentFlash/P");
    image.Folder("SDMMC/Backup");
    image.Folder(strFilled);
    for (int i = 0; i < 20; ++i) image.File(strFilled + "f" + std::to_string(i), "data");
    const auto before = Tree(image.Root());
    CMovedDevice dev(image.Root(), image.Host(c.pszMoved), outside.Host("moved"));
    IDeviceBackend* pPrevious = InstallDeviceBackend(&dev);
    BOOL bCopied = FALSE;
    g_dwLastCopyError = 0;
    if (c.bCopy) {
      HANDLE hLock = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
      std::atomic<DWORD> nFiles{0};
      bCopied = CopyTree(L"\\*", L"\\SDMMC\\Backup", L"\\ResidentFlash\\P", hLock, nFiles);
      CloseHandle(hLock);
    } else {
      DeleteTree(L"\\ResidentFlash");
    }
    InstallDeviceBackend(pPrevious);

    EXPECT_FALSE(dev.m_taken.empty());
    EXPECT_EQ(Tree(outside.Root() + "/moved"), dev.m_taken);
    EXPECT_FALSE(bCopied);
    EXPECT_EQ(g_dwLastCopyError.load(), c.bCopy ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : 0u);
    // The image lost what left it, and the flash holds nothing else.
    auto expected = before;
    std::erase_if(expected, [&](const auto& e) { return e.first.starts_with("ResidentFlash/"); });
    if (c.bFolderAboveLeft) expected["ResidentFlash/P"] = "/";
    EXPECT_EQ(Tree(image.Root()), expected);
  }
}

}  // namespace
