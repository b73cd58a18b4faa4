// Any bytes as Path.xml through the path list reader: no crash, hang or leak, and the
// properties of path_list_check.h hold.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/xml/factory.h"
#include "tests/fakes/fake_device.h"
#include "tests/fuzz/path_list_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InstallXmlDocumentFactory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  CFakeDevice device;
  CFakeDeviceScope scope(device);
  const std::string strBroken =
      CheckPathListOnBytes(device, L"\\ResidentFlash\\Path.xml",
                           std::string(reinterpret_cast<const char*>(pData), nSize));
  if (!strBroken.empty()) {
    std::fprintf(stderr, "path list: %s\n", strBroken.c_str());
    std::abort();
  }
  return 0;
}
