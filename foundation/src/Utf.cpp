#include "foundation/Text.h"

namespace pcutil {

Bytes Utf16ToUtf8(const std::u16string& text) {
  Bytes out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
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

void AppendUtf16(std::u16string& out, char32_t codePoint) {
  if (codePoint >= 0x10000) {
    codePoint -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (codePoint >> 10));
    out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  } else {
    out += static_cast<char16_t>(codePoint);
  }
}

namespace {

// Decodes UTF-8. Strict: false at the first byte that starts no valid sequence. Lenient: that
// byte becomes U+FFFD and decoding goes on with the next one.
bool DecodeUtf8(const unsigned char* s, size_t n, bool lenient, std::u16string& out) {
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    uint32_t c = s[i];
    int extra = 0;
    uint32_t min = 0;
    bool ok = true;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, c &= 0x07;
    } else {
      ok = false;
    }
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + k >= n || (s[i + k] & 0xC0) != 0x80) ok = false;
      else c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (!ok) {
      if (!lenient) return false;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

std::u16string Utf8ToUtf16(const Bytes& bytes) {
  std::u16string out;
  if (!DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), false, out))
    return {};
  return out;
}

std::u16string Utf8ToUtf16Lenient(std::string_view bytes) {
  std::u16string out;
  DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), true, out);
  return out;
}

}  // namespace pcutil
