#include "foundation/Text.h"

#include <cstdint>
#include <cstring>

namespace pcutil {

// Both directions write through a pointer into a buffer of the largest possible size and cut
// it afterwards: appending unit by unit costs several times more on page-sized texts.

Bytes Utf16ToUtf8(const std::u16string& text) {
  const size_t n = text.size();
  Bytes out(n * 3, '\0');  // a unit gives at most 3 bytes, a surrogate pair 4
  char* p = out.data();
  const char16_t* u = text.data();
  size_t i = 0;
  while (i < n) {
    // Runs of ASCII, four units at a time.
    while (i + 4 <= n && ((u[i] | u[i + 1] | u[i + 2] | u[i + 3]) & 0xFF80) == 0) {
      p[0] = static_cast<char>(u[i]);
      p[1] = static_cast<char>(u[i + 1]);
      p[2] = static_cast<char>(u[i + 2]);
      p[3] = static_cast<char>(u[i + 3]);
      p += 4;
      i += 4;
    }
    if (i == n) break;
    uint32_t c = u[i++];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i < n && u[i] >= 0xDC00 && u[i] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i] - 0xDC00);
      ++i;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(p - out.data()));
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
  const size_t base = out.size();
  out.resize(base + n);  // a byte gives at most one unit, a 4-byte sequence two
  char16_t* p = out.data() + base;
  size_t i = 0;
  while (i < n) {
    // Runs of ASCII, eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, s + i, 8);
      if (word & 0x8080808080808080ULL) break;
      for (int k = 0; k < 8; ++k) p[k] = s[i + k];
      p += 8;
      i += 8;
    }
    if (i == n) break;
    uint32_t c = s[i];
    if (c < 0x80) {
      *p++ = static_cast<char16_t>(c);
      ++i;
      continue;
    }
    // The common three-byte form (Chinese text) first.
    if ((c & 0xF0) == 0xE0 && i + 2 < n && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80) {
      const uint32_t cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
        *p++ = static_cast<char16_t>(cp);
        i += 3;
        continue;
      }
    }
    int extra = 0;
    uint32_t min = 0;
    bool ok = true;
    if ((c & 0xE0) == 0xC0) {
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
      if (!lenient) {
        out.resize(base);
        return false;
      }
      *p++ = u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      *p++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *p++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *p++ = static_cast<char16_t>(c);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  out.resize(static_cast<size_t>(p - out.data()));
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
