// Any bytes as Path.xml through the path list reader, on the host device over an image in
// /dev/shm: no crash, hang or leak, and the properties of path_list_check.h hold.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/host/device/device.h"
#include "platform/host/xml/factory.h"
#include "tests/fuzz/path_list_check.h"

namespace {
std::string g_strRoot;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char szRoot[] = "/dev/shm/orvane-fuzz-XXXXXX";
  if (!::mkdtemp(szRoot)) std::abort();
  g_strRoot = szRoot;
  std::filesystem::create_directory(g_strRoot + "/ResidentFlash");
  std::atexit([] { std::filesystem::remove_all(g_strRoot); });
  static CHostDevice s_device(g_strRoot);
  InstallDeviceBackend(&s_device);
  InstallXmlDocumentFactory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string strBroken =
      CheckPathListOnBytes(g_strRoot + "/ResidentFlash/Path.xml", L"\\ResidentFlash\\Path.xml",
                           std::string(reinterpret_cast<const char*>(pData), nSize));
  if (!strBroken.empty()) {
    std::fprintf(stderr, "path list: %s\n", strBroken.c_str());
    std::abort();
  }
  return 0;
}
