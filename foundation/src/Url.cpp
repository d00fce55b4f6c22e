#include <openssl/evp.h>

#include <memory>

#include "foundation/Text.h"

namespace pcutil {

std::u16string UrlKey(const std::u16string& address) {
  // The salt and the UTF-16LE byte order are part of every stored PageUrl table.
  const std::u16string salted = u"7K3Q8R1T5M" + address;
  std::string bytes;
  bytes.reserve(salted.size() * 2);
  for (char16_t c : salted) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1)
    return {};
  const char16_t* hex = u"0123456789abcdef";
  std::u16string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 0xF];
  }
  return out;
}

namespace {

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Length of a leading "scheme:" when it is followed by "//", else 0.
size_t SchemeLength(const std::u16string& s) {
  if (s.empty() || !IsAlpha(s[0])) return 0;
  size_t i = 1;
  while (i < s.size() && (IsAlpha(s[i]) || (s[i] >= u'0' && s[i] <= u'9') || s[i] == u'+' ||
                          s[i] == u'-' || s[i] == u'.'))
    ++i;
  if (s.compare(i, 3, u"://") != 0) return 0;
  return i + 1;
}

// Position just after the k-th '/' (1-based), or npos.
size_t AfterNthSlash(const std::u16string& s, size_t k) {
  size_t pos = 0;
  for (size_t found = 0; pos < s.size(); ++pos)
    if (s[pos] == u'/' && ++found == k) return pos + 1;
  return std::u16string::npos;
}

}  // namespace

std::u16string ToAbsolute(const std::u16string& link, const std::u16string& base) {
  // Any "scheme://" link is already absolute. Only "http://" and "HTTP://" once were,
  // which glued https links onto the base.
  if (SchemeLength(link) > 0) return link;
  if (base.empty()) return link;

  std::u16string b = base;
  if (b.size() < 8 || b.find(u'/', 8) == std::u16string::npos) b += u'/';
  std::u16string l = ReplaceAll(link, u"'", u"");

  // A protocol-relative link keeps its host and takes the base's scheme.
  if (l.compare(0, 2, u"//") == 0) {
    const size_t scheme = SchemeLength(b);
    return (scheme > 0 ? b.substr(0, scheme) : std::u16string(u"http:")) + l;
  }

  if (l.find(u"../") != std::u16string::npos && l.front() != u'/') {
    const size_t up = static_cast<size_t>(CountDelimiters(l, u"../"));
    l = ReplaceAll(l, u"../", u"");
    const size_t slashes = static_cast<size_t>(CountDelimiters(b, u"/"));
    const size_t keep = std::max<size_t>(slashes > up ? slashes - up : 0, 3);
    const size_t cut = AfterNthSlash(b, keep);
    if (cut != std::u16string::npos) b.resize(cut);
    if (b.back() != u'/') b += u'/';
    return b + l;
  }
  if (!l.empty() && l.front() == u'/') {
    const size_t third = AfterNthSlash(b, 3);
    if (third != std::u16string::npos) b.resize(third - 1);
    else
      while (!b.empty() && b.back() == u'/') b.pop_back();
    return b + l;
  }
  b.resize(b.rfind(u'/') + 1);
  return b + l;
}

}  // namespace pcutil
