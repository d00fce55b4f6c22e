#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "net/Http.h"

namespace pcutil {

void CAutoBuffer::Append(const void* data, size_t length) {
  data_.append(static_cast<const char*>(data), length);
}

size_t CAutoBuffer::TakeFront(size_t length, CAutoBuffer& out) {
  const size_t n = std::min(length, data_.size());
  out.Append(data_.data(), n);
  data_.erase(0, n);
  return n;
}

namespace {

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

}  // namespace

void CHttpResponseHeaders::Set(const Bytes& rawText, const std::string& contentEncoding) {
  raw_ = rawText;
  encoding_ = Lower(contentEncoding);
}

std::string CHttpResponseHeaders::Value(const std::string& name) const {
  const std::string want = Lower(name);
  size_t pos = 0;
  while (pos < raw_.size()) {
    size_t end = raw_.find('\n', pos);
    if (end == std::string::npos) end = raw_.size();
    std::string line = raw_.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t colon = line.find(':');
    if (colon == std::string::npos || Lower(line.substr(0, colon)) != want) continue;
    size_t b = colon + 1;
    while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) ++b;
    size_t e = line.size();
    while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
    return line.substr(b, e - b);
  }
  return {};
}

Bytes GunzipBody(const Bytes& bytes) {
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0x1F ||
      static_cast<unsigned char>(bytes[1]) != 0x8B)
    return bytes;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  // 16 + MAX_WBITS: zlib checks and skips the gzip header, then inflates the raw stream.
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) return bytes;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  Bytes out;
  char chunk[65536];
  int rc = Z_OK;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(chunk);
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - zs.avail_out);
  } while (rc == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
  inflateEnd(&zs);
  // A damaged or cut-off stream keeps what could be inflated.
  return out;
}

}  // namespace pcutil
