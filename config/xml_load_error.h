// The failure of WinceXmlEx's construction: the configuration file was not loaded.
#pragma once

#include <exception>
#include <string>
#include <utility>

class CXmlLoadError : public std::exception {
 public:
  // strReason: why the file was not loaded, in a few words.
  explicit CXmlLoadError(std::wstring strReason) : m_strReason(std::move(strReason)) {}
  // "Failed to WinceXmlEx!"
  const char* what() const noexcept override { return "Failed to WinceXmlEx!"; }
  // Why the file was not loaded ("no root element").
  const std::wstring& Reason() const { return m_strReason; }

 private:
  std::wstring m_strReason;
};
