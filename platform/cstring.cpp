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

namespace {

// Host name bytes that are no valid UTF-8, and "\", which the device never has in a name, map
// to lone low surrogates: valid text never decodes to one, so every name comes back byte for byte.
constexpr char32_t kEscapeBase = 0xDC00;
constexpr char32_t kEscapedSeparator = kEscapeBase + '\\';

bool IsEscape(char32_t c) {
  return (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) || c == kEscapedSeparator;
}

// Length of the valid UTF-8 sequence at s[i] with its code point in cp; 0 when it is none
// (overlong forms, surrogates and code points above U+10FFFF are not valid).
size_t DecodeOne(std::string_view s, size_t i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t len = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto cb = static_cast<unsigned char>(s[i + k]);
    if ((cb & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cb & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

std::wstring Decode(std::string_view s, bool bEscapeSeparator) {
  std::wstring out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80 && b != '\\') {  // most names are ASCII
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const size_t n = DecodeOne(s, i, cp);
    if (n == 0) {
      out += static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(s[i++]));
    } else {
      out += static_cast<wchar_t>(bEscapeSeparator && cp == '\\' ? kEscapedSeparator : cp);
      i += n;
    }
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
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

// bText: an escaped byte is shown as "\xNN" instead of given back.
void EncodeTo(std::string& out, std::wstring_view w, bool bText) {
  for (wchar_t wc : w) {
    auto c = static_cast<char32_t>(wc);
    if (c >= 0x20 && c < 0x7F) {  // most names are printable ASCII
      out += static_cast<char>(c);
      continue;
    }
    if (IsEscape(c) && !bText) {
      out += static_cast<char>(c - kEscapeBase);
      continue;
    }
    // A control character in a name would end, rewrite or colour a line: shown, not obeyed.
    if (bText && (IsEscape(c) || c < 0x20 || (c >= 0x7F && c <= 0x9F))) {
      const unsigned n = IsEscape(c) ? c - kEscapeBase : c;
      const char kHex[] = "0123456789ABCDEF";
      out += {'\\', 'x', kHex[n >> 4], kHex[n & 0xF]};
      continue;
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    AppendUtf8(out, c);
  }
}

std::string Encode(std::wstring_view w, bool bText) {
  std::string out;
  out.reserve(w.size());
  EncodeTo(out, w, bText);
  return out;
}

}  // namespace

std::string WideToUtf8(std::wstring_view w) { return Encode(w, false); }

void AppendWideAsUtf8(std::string& out, std::wstring_view w) { EncodeTo(out, w, false); }

std::wstring Utf8ToWide(std::string_view s) { return Decode(s, false); }

std::wstring HostNameToWide(std::string_view s) { return Decode(s, true); }

std::string WideToText(std::wstring_view w) {
  size_t nEnd = w.size();  // the line's own end is kept
  if (nEnd > 0 && w[nEnd - 1] == L'\n' && --nEnd > 0 && w[nEnd - 1] == L'\r') --nEnd;
  return Encode(w.substr(0, nEnd), true) + Encode(w.substr(nEnd), false);
}

int Utf16Length(LPCWSTR psz) {
  int n = 0;
  for (; psz && *psz; ++psz) n += static_cast<uint32_t>(*psz) > 0xFFFF ? 2 : 1;
  return n;
}
