// The failure of WinceXmlEx's construction: the configuration file was not loaded.
#pragma once

#include <exception>

class CXmlLoadError : public std::exception {
 public:
  // "Failed to WinceXmlEx!"
  const char* what() const noexcept override { return "Failed to WinceXmlEx!"; }
};
