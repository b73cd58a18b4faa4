// The platform's wide string class, with only what the program uses.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wintypes.h"

// Length in UTF-16 code units, as the device counts a path: a character beyond U+FFFF is two.
int Utf16Length(LPCWSTR psz);

class CString {
 public:
  CString() = default;
  CString(LPCWSTR psz) : m_str(psz ? psz : L"") {}  // NOLINT: implicit like the framework's
  CString(const std::wstring& s) : m_str(s) {}      // NOLINT
  CString(LPCWSTR psz, int nLength) : m_str(psz, static_cast<size_t>(nLength)) {}

  // Formats like the platform's wide printf: %s and %c take wide arguments.
  void Format(LPCWSTR pszFormat, ...);

  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  // ASCII letters only, like the device's in-place upper-casing.
  CString& MakeUpper();
  int ReverseFind(WCHAR ch) const;
  CString Left(int nCount) const;
  CString Mid(int nFirst) const;
  WCHAR operator[](int i) const { return m_str[static_cast<size_t>(i)]; }

  operator LPCWSTR() const { return m_str.c_str(); }  // NOLINT
  LPCWSTR GetString() const { return m_str.c_str(); }
  const std::wstring& Str() const { return m_str; }
  // UTF-8 form, for the host side and for tests.
  std::string ToUtf8() const;

  CString& operator+=(const CString& o) {
    m_str += o.m_str;
    return *this;
  }
  CString& operator+=(LPCWSTR o) {
    m_str += (o ? o : L"");
    return *this;
  }
  CString& operator+=(WCHAR ch) {
    m_str += ch;
    return *this;
  }
  friend CString operator+(const CString& a, const CString& b) {
    return CString(a.m_str + b.m_str);
  }
  friend CString operator+(const CString& a, LPCWSTR b) { return CString(a.m_str + (b ? b : L"")); }
  friend CString operator+(LPCWSTR a, const CString& b) { return CString((a ? a : L"") + b.m_str); }
  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, LPCWSTR b) { return a.m_str == (b ? b : L""); }
  friend auto operator<=>(const CString& a, const CString& b) { return a.m_str <=> b.m_str; }

 private:
  std::wstring m_str;
};

using CStringArray = std::vector<CString>;

// Wide formatting with the device's conventions (%s and %c wide); used by CString::Format and
// the wide diagnostic print.
std::wstring FormatWideV(LPCWSTR pszFormat, va_list args);

// Host bytes and wide strings, one to one. Strict UTF-8 (overlong forms, surrogates and code
// points above U+10FFFF are invalid); each byte of an invalid sequence becomes U+DC80..U+DCFF, a
// code unit valid text never gives, and goes back to the same byte. U+DC5C is a "" inside a
// name. Other code units that no text has go out as U+FFFD.
std::string WideToUtf8(std::wstring_view w);
// The same, appended to out.
void AppendWideAsUtf8(std::string& out, std::wstring_view w);
// Text such as a device path in the environment: "" stays a separator.
std::wstring Utf8ToWide(std::string_view s);
// A host file name: also its "" bytes become U+DC5C, so that no name reads as a path.
std::wstring HostNameToWide(std::string_view s);
// For people (diagnostic and error lines): as WideToUtf8, but an escaped byte shows as "\xNN",
// and so does every control character (C0, DEL, C1) but a line end closing the text.
std::string WideToText(std::wstring_view w);
