// Installs the libxml2 document as the XML document service (SetXmlDocumentFactory).
#pragma once

// Every CreateXmlDocument from now on gives a CHostXmlDocument; called once at start-up.
void InstallXmlDocumentFactory();
