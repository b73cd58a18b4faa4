// What must hold for any bytes as Path.xml, checked by the fuzz target and by the corpus test:
// a file that cannot be loaded stays untouched and leaves the lists empty; the lists are pairs
// of at most 4,096 entries; what was written back reads as the same lists and is written back
// unchanged from then on (or the write-back is refused and the file stays as it was).
#pragma once

#include <exception>
#include <string>

#include "config/path_list.h"
#include "tests/fakes/fake_device.h"

// Runs the reader twice over strBytes as strPath on the installed fake; "" when everything held,
// else the property that broke.
inline std::string CheckPathListOnBytes(CFakeDevice& device, const std::wstring& strPath,
                                        const std::string& strBytes) {
  device.AddFile(strPath, strBytes);
  device.ClearRecord();
  auto contents = [&] { return device.Snapshot().at(strPath).strContents; };

  CStringArray arrSrc, arrDst;
  try {
    ReadPathList(strPath, arrSrc, arrDst);
  } catch (const std::exception&) {
    if (!arrSrc.empty() || !arrDst.empty()) return "lists filled by a failed load";
    if (!device.Changes().empty() || contents() != strBytes) return "failed load changed the file";
    return "";
  }
  if (arrSrc.size() != arrDst.size()) return "lists of different lengths";
  if (arrSrc.size() > 4096) return "more than 4096 entries";

  const std::string strFirst = contents();
  CStringArray arrSrc2, arrDst2;
  try {
    ReadPathList(strPath, arrSrc2, arrDst2);
  } catch (const std::exception&) {
    return "the written-back file does not load";
  }
  if (arrSrc2 != arrSrc || arrDst2 != arrDst) return "the written-back file reads differently";
  if (contents() != strFirst) return "the second write-back differs from the first";
  return "";
}
