// What must hold for any bytes as Path.xml, checked by the fuzz target and by the corpus test:
// a file that cannot be loaded stays untouched and leaves the lists empty; the lists are pairs
// of at most 4,096 entries; what was written back reads as the same lists and is written back
// unchanged from then on (or the write-back is refused and the file stays as it was).
#pragma once

#include <sys/stat.h>

#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "config/path_list.h"

// Writes strBytes to strHostFile, which the installed device names strPath, and runs the reader
// twice over it; "" when everything held, else the property that broke.
inline std::string CheckPathListOnBytes(const std::string& strHostFile, const std::wstring& strPath,
                                        const std::string& strBytes) {
  std::ofstream(strHostFile, std::ios::binary | std::ios::trunc) << strBytes;
  auto contents = [&] {
    std::ostringstream s;
    s << std::ifstream(strHostFile, std::ios::binary).rdbuf();
    return s.str();
  };
  auto inode = [&] {
    struct stat st {};
    ::stat(strHostFile.c_str(), &st);
    return st.st_ino;
  };
  const ino_t nInode = inode();

  CStringArray arrSrc, arrDst;
  try {
    ReadPathList(strPath, arrSrc, arrDst);
  } catch (const std::exception&) {
    if (!arrSrc.empty() || !arrDst.empty()) return "lists filled by a failed load";
    if (inode() != nInode || contents() != strBytes) return "failed load changed the file";
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
