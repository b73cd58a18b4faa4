// A folder's listing on the host. The names are read at once, as the folder stood when it was
// opened (the caller may add to or remove from it while it walks); each entry's facts are looked
// up as it is handed out and kept for the calls that follow on it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/device_backend.h"
#include "platform/host/host_paths.h"

class CHostListing : public IFolderListing {
 public:
  // Null with the code when the folder cannot be listed (3 when it is missing). pOwner: the
  // device whose facts the entries become.
  static std::unique_ptr<CHostListing> Open(const CDeviceImage& image, const void* pOwner,
                                            const std::wstring& strFolder, DWORD& dwError);

  bool Next(WIN32_FIND_DATAW& data) override;

 private:
  CHostListing(const CDeviceImage& image, const void* pOwner, const std::wstring& strFolder,
               std::shared_ptr<const CUniqueFd> fd, std::vector<std::string> names);

  const CDeviceImage& m_image;
  const void* m_pOwner;
  std::shared_ptr<const std::wstring> m_pPrefix;  // the folder's path and a separator
  std::shared_ptr<const CUniqueFd> m_fd;
  std::vector<std::string> m_names;
  size_t m_nNext = 0;
};
