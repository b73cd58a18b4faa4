// A folder's listing on the host. The names are read at once, as the folder stood when it was
// opened (the caller may add to or remove from it while it walks); each entry's facts are looked
// up as it is handed out and kept for the calls that follow on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_backend.h"
#include "platform/host/device/image.h"

class CHostListing : public IFolderListing {
 public:
  // Null with the code when the folder cannot be listed (3 when it is missing). nOwner: the
  // device whose facts the entries become. The listing keeps the image for as long as it lives.
  static std::unique_ptr<CHostListing> Open(std::shared_ptr<const CDeviceImage> pImage,
                                            std::uint64_t nOwner, const std::wstring& strFolder,
                                            DWORD& dwError);

  bool Next(WIN32_FIND_DATAW& data) override;
  // An entry whose type the listing gave is then handed out without a look-up (and kept as no
  // fact); one whose type it did not give is looked up as before.
  void TypesOnly() override { m_bTypesOnly = true; }

 private:
  CHostListing(std::shared_ptr<const CDeviceImage> pImage, std::uint64_t nOwner,
               std::string strFolder, std::shared_ptr<const CUniqueFd> fd,
               std::vector<std::string> names, std::vector<unsigned char> types);

  std::shared_ptr<const CDeviceImage> m_pImage;
  std::uint64_t m_nOwner;
  std::shared_ptr<const std::string> m_pFolder;  // the folder listed, as CDevicePath has it
  std::shared_ptr<const CUniqueFd> m_fd;
  std::vector<std::string> m_names;
  std::vector<unsigned char> m_types;  // each name's d_type, DT_UNKNOWN where not given
  bool m_bTypesOnly = false;
  size_t m_nNext = 0;
};
