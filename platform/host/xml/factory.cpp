#include "platform/host/xml/factory.h"

#include <memory>

#include "platform/host/xml/document.h"

namespace {

std::unique_ptr<IXmlDocument> NewHostXmlDocument() { return std::make_unique<CHostXmlDocument>(); }

}  // namespace

void InstallXmlDocumentFactory() { SetXmlDocumentFactory(&NewHostXmlDocument); }
