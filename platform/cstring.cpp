#include "platform/cstring.h"

#include <cstdarg>
#include <cwchar>
#include <locale>

namespace {

// On the device %s in a wide format takes a wide string; glibc wants %ls for that.
std::wstring ToGlibcWideFormat(LPCWSTR fmt) {
  std::wstring out;
  for (const wchar_t* p = fmt; *p; ++p) {
    out += *p;
    if (*p != L'%') continue;
    const wchar_t* q = p + 1;
    if (*q == L'%') {
      out += *q;
      p = q;
      continue;
    }
    while (*q && std::wcschr(L"-+ #0123456789.*", *q)) out += *q++;
    bool sized = (*q == L'l' || *q == L'h' || *q == L'w');
    if (!sized && (*q == L's' || *q == L'c')) out += L'l';
    if (*q == L'w') {
      out += L'l';
      ++q;
    }
    p = q - 1;
  }
  return out;
}

}  // namespace

std::wstring FormatWideV(LPCWSTR pszFormat, va_list args) {
  std::wstring fmt = ToGlibcWideFormat(pszFormat ? pszFormat : L"");
  std::vector<wchar_t> buf(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(buf.data(), buf.size(), fmt.c_str(), copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < buf.size()) return std::wstring(buf.data(), n);
    if (buf.size() > (1u << 20)) return std::wstring();  // unformattable: give nothing
    buf.resize(buf.size() * 4);
  }
}

void CString::Format(LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  m_str = FormatWideV(pszFormat, args);
  va_end(args);
}

CString& CString::MakeUpper() {
  // The classic locale's cases, not the host's (see _wcsupr).
  std::use_facet<std::ctype<wchar_t>>(std::locale::classic())
      .toupper(m_str.data(), m_str.data() + m_str.size());
  return *this;
}

int CString::ReverseFind(WCHAR ch) const {
  auto pos = m_str.rfind(ch);
  return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int nCount) const {
  if (nCount < 0) nCount = 0;
  return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
  if (nFirst < 0) nFirst = 0;
  if (static_cast<size_t>(nFirst) >= m_str.size()) return CString();
  return CString(m_str.substr(static_cast<size_t>(nFirst)));
}

std::string CString::ToUtf8() const { return WideToUtf8(m_str); }

std::string WideToUtf8(const std::wstring& w) {
  std::string out;
  out.reserve(w.size());
  for (wchar_t wc : w) {
    auto c = static_cast<char32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(const std::string& s) {
  std::wstring out;
  size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    char32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      c = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      c = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      c = b & 0x07;
    } else {
      ++i;
      out += L'\xFFFD';
      continue;
    }
    if (i + len > s.size()) {
      out += L'\xFFFD';
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      auto cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (cb & 0x3F);
    }
    out += ok ? static_cast<wchar_t>(c) : L'\xFFFD';
    i += ok ? len : 1;
  }
  return out;
}
