#include "platform/xmldom.h"

#include <atomic>

namespace {
std::atomic<PFN_XML_FACTORY> g_pfnFactory{nullptr};
}  // namespace

std::unique_ptr<IXmlDocument> CreateXmlDocument() {
  PFN_XML_FACTORY pfn = g_pfnFactory.load();
  return pfn ? pfn() : nullptr;
}

void SetXmlDocumentFactory(PFN_XML_FACTORY pfnFactory) { g_pfnFactory = pfnFactory; }
