// The configuration tests' world: Path.xml in a device image in /dev/shm on the host device, the
// libxml2 document service, and the Qt window system, whose message boxes a user answers.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/host/device/device.h"
#include "platform/host/xml/factory.h"
#include "tests/support/fault_device.h"
#include "tests/support/image.h"
#include "tests/support/qt_fixture.h"

inline constexpr wchar_t kPathXml[] = L"\\ResidentFlash\\Path.xml";

class ConfigTest : public CQtBackendTest {
 public:
  void SetUp() override {
    CQtBackendTest::SetUp();
    InstallXmlDocumentFactory();
    m_image.File("SDMMC/keep.txt", "keep");
    m_image.Folder("ResidentFlash");
    m_pUser = std::make_unique<CBoxAnswerer>(Backend());
  }
  void TearDown() override {
    m_pUser.reset();
    CQtBackendTest::TearDown();
  }
  // Path.xml with these bytes and permission bits.
  void Put(const std::string& strBytes, mode_t mode = 0644) {
    m_image.File("ResidentFlash/Path.xml", strBytes, mode);
  }
  std::string Bytes() const { return ReadHostFile(m_image.Host("ResidentFlash/Path.xml")); }
  // Path.xml's inode: a write-back renames a new file into place.
  ino_t Inode() const {
    struct stat st {};
    ::stat(m_image.Host("ResidentFlash/Path.xml").c_str(), &st);
    return st.st_ino;
  }
  // The (caption, text) of the boxes shown since the last look.
  CBoxes Boxes() {
    auto boxes = m_pUser->m_boxes;
    m_pUser->m_boxes.clear();
    return boxes;
  }

  CTempImage m_image;
  CHostDevice m_host{m_image.Root()};
  CDeviceScope m_scope{m_host};
  std::unique_ptr<CBoxAnswerer> m_pUser;
};

inline const std::pair<std::wstring, std::wstring> kCannotLoad = {L"Error Loading XML",
                                                                  L"Cannot load XML file"};
inline const std::pair<std::wstring, std::wstring> kEmptyDocument = {L"Error Loading XML",
                                                                     L"Empty document!"};
