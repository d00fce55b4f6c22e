// Charset conversions through iconv. The local code page is GBK: text is encoded with GBK
// (as the Chinese ANSI code page does, 0x80 = euro sign included) and characters GBK lacks
// take their GB18030 four-byte form, so nothing representable turns into '?'. Decoding
// reads GB18030, a superset of GBK, falling back to GBK for the few bytes GB18030 leaves
// undefined (0x80).
#include <cerrno>
#include <iconv.h>

#include <algorithm>
#include <cctype>

#include "foundation/Text.h"

namespace pcutil {

namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  // Converts as much as possible; returns iconv's errno (0 when all input was taken).
  int Convert(const char*& in, size_t& inLeft, std::string& out) {
    char buf[4096];
    while (inLeft > 0) {
      char* o = buf;
      size_t oLeft = sizeof buf;
      size_t r = iconv(cd_, const_cast<char**>(&in), &inLeft, &o, &oLeft);
      out.append(buf, static_cast<size_t>(o - buf));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return errno;
    }
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(cd_, nullptr, nullptr, &o, &oLeft);  // flush any shift state
    out.append(buf, static_cast<size_t>(o - buf));
    return 0;
  }

 private:
  iconv_t cd_;
};

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::u16string FromUtf16Le(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return text;
}

// Length in bytes of the UTF-16LE character at p (4 for a whole surrogate pair).
size_t Utf16LeCharBytes(const char* p, size_t left) {
  if (left >= 4) {
    unsigned hi = static_cast<unsigned char>(p[1]);
    unsigned hi2 = static_cast<unsigned char>(p[3]);
    if (hi >= 0xD8 && hi <= 0xDB && hi2 >= 0xDC && hi2 <= 0xDF) return 4;
  }
  return std::min<size_t>(2, left);
}

// Encodes UTF-16 text; characters the primary charset lacks are tried with the fallback
// converter (if any), then written as the primary charset's '?'.
Bytes EncodeWith(const std::u16string& text, Iconv& primary, Iconv* fallback) {
  const std::string in = Utf16Le(text);
  const char* p = in.data();
  size_t left = in.size();
  Bytes out;
  while (left > 0) {
    int err = primary.Convert(p, left, out);
    if (err == 0) break;
    const size_t n = Utf16LeCharBytes(p, left);
    primary.Reset();
    bool done = false;
    if (fallback) {
      const char* fp = p;
      size_t fl = n;
      Bytes alt;
      fallback->Reset();
      if (fallback->Convert(fp, fl, alt) == 0) {
        out += alt;
        done = true;
      }
    }
    if (!done) {
      const char q[2] = {'?', 0};
      const char* qp = q;
      size_t ql = 2;
      primary.Convert(qp, ql, out);
    }
    p += n;
    left -= n;
  }
  return out;
}

// Decodes bytes to UTF-16; undecodable bytes are tried with the fallback (one or two
// bytes), otherwise each becomes `bad`.
std::u16string DecodeWith(const Bytes& bytes, Iconv& primary, Iconv* fallback, char16_t bad) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  std::string le;
  std::u16string out;
  while (left > 0) {
    int err = primary.Convert(p, left, le);
    if (err == 0) break;
    primary.Reset();
    size_t used = 0;
    if (fallback) {
      for (size_t n = 1; n <= 2 && n <= left && used == 0; ++n) {
        const char* fp = p;
        size_t fl = n;
        std::string alt;
        fallback->Reset();
        if (fallback->Convert(fp, fl, alt) == 0 && !alt.empty()) {
          le += alt;
          used = n;
        }
      }
    }
    if (used == 0) {
      le += static_cast<char>(bad & 0xFF);
      le += static_cast<char>(bad >> 8);
      used = 1;
    }
    p += used;
    left -= used;
  }
  return FromUtf16Le(le);
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Names that mean the Chinese code page in practice: pages labelled gb2312 are GBK.
bool IsLocalName(const std::string& charset) {
  const std::string n = Lower(charset);
  return n == "gb2312" || n == "gbk" || n == "cp936" || n == "x-gbk" || n == "gb18030" ||
         n == "euc-cn";
}

}  // namespace

Bytes Utf16ToLocal(const std::u16string& text) {
  Iconv gbk("GBK", "UTF-16LE");
  Iconv gb18030("GB18030", "UTF-16LE");
  if (!gbk.ok()) return {};
  return EncodeWith(text, gbk, gb18030.ok() ? &gb18030 : nullptr);
}

std::u16string LocalToUtf16(const Bytes& bytes) {
  Iconv gb18030("UTF-16LE", "GB18030");
  Iconv gbk("UTF-16LE", "GBK");
  if (!gb18030.ok()) return {};
  return DecodeWith(bytes, gb18030, gbk.ok() ? &gbk : nullptr, u'?');
}

std::u16string DecodeCharset(const Bytes& bytes, const std::string& charset) {
  if (IsLocalName(charset)) return LocalToUtf16(bytes);
  Iconv cd("UTF-16LE", charset.c_str());
  if (!cd.ok()) return {};
  return DecodeWith(bytes, cd, nullptr, u'\uFFFD');
}

Bytes EncodeCharset(const std::u16string& text, const std::string& charset) {
  if (IsLocalName(charset)) return Utf16ToLocal(text);
  Iconv cd(charset.c_str(), "UTF-16LE");
  if (!cd.ok()) return {};
  return EncodeWith(text, cd, nullptr);
}

}  // namespace pcutil
