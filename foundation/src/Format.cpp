#include "foundation/Text.h"

namespace pcutil {

std::u16string FormatArg::Text() const {
  if (text_) return *text_;
  if (ptr_) return ptr_;
  return {};
}

namespace {

std::u16string Digits(unsigned long long v, unsigned base) {
  const char16_t* digits = u"0123456789abcdef";
  std::u16string s;
  do {
    s.insert(s.begin(), digits[v % base]);
    v /= base;
  } while (v);
  return s;
}

}  // namespace

// Conversions: %s (text; a number prints in decimal), %d %i %u %x with an optional '0'
// flag, width and 'l'/'ll' length, and %%. Missing arguments print nothing; an unknown
// conversion is copied as written.
std::u16string FormatArgs(const std::u16string& format, const std::vector<FormatArg>& args) {
  std::u16string out;
  out.reserve(format.size() + 16 * args.size());
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char16_t c = format[i];
    if (c != u'%') {
      out += c;
      continue;
    }
    size_t j = i + 1;
    if (j < format.size() && format[j] == u'%') {
      out += u'%';
      i = j;
      continue;
    }
    bool zero = false;
    while (j < format.size() && format[j] == u'0') zero = true, ++j;
    size_t width = 0;
    while (j < format.size() && format[j] >= u'0' && format[j] <= u'9')
      width = width * 10 + (format[j++] - u'0');
    int longs = 0;
    while (j < format.size() && format[j] == u'l') ++longs, ++j;
    if (j >= format.size()) {
      out.append(format, i, std::u16string::npos);
      break;
    }
    const char16_t conv = format[j];
    std::u16string piece;
    bool known = true;
    const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
    switch (conv) {
      case u's':
        if (arg && arg->IsText()) {
          piece = arg->Text();
        } else if (arg) {
          const long long v = arg->Number();
          piece = Digits(v < 0 ? 0ULL - static_cast<unsigned long long>(v) : v, 10);
          if (v < 0) piece.insert(piece.begin(), u'-');
        }
        zero = false;
        break;
      case u'd':
      case u'i': {
        long long v = arg && !arg->IsText() ? arg->Number() : 0;
        if (longs == 0) v = static_cast<int>(v);
        const bool neg = v < 0;
        piece = Digits(neg ? 0ULL - static_cast<unsigned long long>(v) : v, 10);
        if (neg) {
          // zero padding goes between the sign and the digits
          if (zero && width > piece.size() + 1) piece.insert(0, width - piece.size() - 1, u'0');
          piece.insert(piece.begin(), u'-');
        }
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        unsigned long long v = arg && !arg->IsText() ? static_cast<unsigned long long>(arg->Number()) : 0;
        if (longs == 0) v = static_cast<unsigned>(v);
        piece = Digits(v, conv == u'u' ? 10 : 16);
        if (conv == u'X')
          for (auto& d : piece)
            if (d >= u'a' && d <= u'f') d = static_cast<char16_t>(d - u'a' + u'A');
        break;
      }
      default:
        known = false;
    }
    if (!known) {
      out.append(format, i, j - i + 1);
      i = j;
      continue;
    }
    if (arg) ++next;
    if (piece.size() < width) piece.insert(0, width - piece.size(), zero ? u'0' : u' ');
    out += piece;
    i = j;
  }
  return out;
}

}  // namespace pcutil
