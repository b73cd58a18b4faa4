// A folder of the flash that another process moves out of the image while the engine empties or
// fills it takes none of the engine's changes with it: each change finds its folder in the image
// when it is made, the ones that no longer can fail with 3, and a copy that lost its folder does
// not report success. Reads are confined too: a source moved out is read no more.
#include <gtest/gtest.h>
#include <stdio.h>

#include <thread>

#include "engine/copy_error.h"
#include "engine/copy_tree.h"
#include "engine/delete_tree.h"
#include "platform/host/device/device.h"
#include "platform/kernel.h"
#include "tests/support/fault_device.h"
#include "tests/support/image.h"

namespace {

TEST(HostRenameOut, NoChangeFollowsAFolderMovedOutOfTheImage) {
  const std::tuple<const char*, bool, const char*, bool> cases[] = {
      // name, filling the flash from the card (else emptying it), the folder moved out at the
      // fifth deletion or copy, the flash keeps P (left empty)
      {"emptied: the folder", false, "ResidentFlash/P/A", false},
      {"emptied: a folder above", false, "ResidentFlash/P", false},
      {"filled: the folder", true, "ResidentFlash/P/A", true},
      {"filled: a folder above", true, "ResidentFlash/P", false},
      {"read: the source, which is read no more", true, "SDMMC/Backup/A", false},
  };
  for (const auto& [pszName, bCopy, pszMoved, bFolderAboveLeft] : cases) {
    SCOPED_TRACE(pszName);
    CTempImage image, outside;
    const std::string strFilled = bCopy ? "SDMMC/Backup/A/" : "ResidentFlash/P/A/";
    image.Lay("ResidentFlash/P/ SDMMC/Backup/ " + strFilled);
    for (int i = 0; i < 20; ++i) image.File(strFilled + "f" + std::to_string(i), "data");
    const CTree before = image.Snapshot();
    CHostDevice host(image.Root());
    CFaultDevice dev(host);
    CTree taken;  // what the folder held when it left
    int nCalls = 0;
    dev.OnCall([&](const std::wstring& strCall) {
      if ((strCall.starts_with(L"DeleteFile ") || strCall.starts_with(L"CopyFile ")) &&
          ++nCalls == 5)
        std::thread([&] {
          ASSERT_EQ(::rename(image.Host(pszMoved).c_str(), outside.Host("moved").c_str()), 0);
          taken = outside.Snapshot();
        }).join();
    });
    BOOL bCopied = FALSE;
    g_dwLastCopyError = 0;
    if (bCopy) {
      HANDLE hLock = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
      std::atomic<DWORD> nFiles{0};
      bCopied = CopyTree(L"\\*", L"\\SDMMC\\Backup", L"\\ResidentFlash\\P", hLock, nFiles);
      CloseHandle(hLock);
    } else {
      DeleteTree(L"\\ResidentFlash");
    }

    EXPECT_GT(taken.size(), 1u);
    EXPECT_EQ(outside.Snapshot(), taken);
    EXPECT_FALSE(bCopied);
    EXPECT_EQ(g_dwLastCopyError.load(), bCopy ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : 0u);
    if (std::string(pszMoved).starts_with("SDMMC")) continue;
    // The image lost what left it, and the flash holds nothing else.
    CTree expected = before;
    std::erase_if(expected,
                  [](const auto& e) { return e.first.starts_with(L"\\ResidentFlash\\"); });
    if (bFolderAboveLeft) expected[L"\\ResidentFlash\\P"] = Folder();
    EXPECT_EQ(image.Snapshot(), expected);
  }
}

}  // namespace
