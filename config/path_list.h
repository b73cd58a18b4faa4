// The folder lists of Path.xml.
#pragma once

#include "platform/cstring.h"

// Reads the count and the source and destination folders from the file into the two lists and
// writes the document back. Throws CXmlLoadError ("Failed to WinceXmlEx!", with the reason)
// when the file cannot be loaded; the lists are then untouched.
void ReadPathList(const CString& strFile, CStringArray& arrSrc, CStringArray& arrDst);
