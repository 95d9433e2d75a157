// Code pages other than the built-in ones, through the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "io/codepage_system.h"

namespace {

// iconv's name for a Windows code page: most are known as CPnnnn, a few
// only by their standard names.
std::string iconvName(unsigned codePage) {
  if (codePage == 20127) return "ASCII";
  if (codePage >= 28591 && codePage <= 28599) return "ISO-8859-" + std::to_string(codePage - 28590);
  if (codePage == 28603) return "ISO-8859-13";
  if (codePage == 28605) return "ISO-8859-15";
  if (codePage == 20866) return "KOI8-R";
  if (codePage == 21866) return "KOI8-U";
  return "CP" + std::to_string(codePage);
}

// Owns one conversion descriptor.
struct Converter {
  iconv_t cd;
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

// Runs one whole conversion. False on a sequence the converter refuses (or
// converts only approximately); `consumed` is then how far the input got.
bool convert(Converter& c, const std::string& in, std::string& out, size_t& consumed) {
  out.clear();
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char chunk[4096];
  bool flushing = false;
  while (true) {
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    // Once the input is used up, one more call writes any shift sequence
    // that a stateful code page needs at the end.
    size_t n = flushing ? iconv(c.cd, nullptr, nullptr, &dst, &dstLeft)
                        : iconv(c.cd, &src, &srcLeft, &dst, &dstLeft);
    int err = errno;
    out.append(chunk, sizeof chunk - dstLeft);
    consumed = in.size() - srcLeft;
    if (n == size_t(-1)) {
      if (err == E2BIG) continue;
      return false;
    }
    // A count of irreversible conversions means a look-alike was chosen.
    if (n > 0) return false;
    if (flushing) return true;
    if (srcLeft == 0) flushing = true;
  }
}

}  // namespace

bool systemCodePageAvailable(unsigned codePage) {
  std::string name = iconvName(codePage);
  Converter c(name.c_str(), "UTF-32LE");
  return c.ok();
}

SystemEncoded systemEncode(const std::u32string& chars, unsigned codePage) {
  SystemEncoded r;
  std::string name = iconvName(codePage);
  Converter c(name.c_str(), "UTF-32LE");
  if (!c.ok()) {
    r.unsupported = true;
    return r;
  }
  std::string in;
  in.reserve(chars.size() * 4);
  for (char32_t ch : chars) {
    for (int k = 0; k < 4; ++k) in += char(uint32_t(ch) >> (8 * k) & 0xFF);
  }
  size_t consumed = 0;
  if (!convert(c, in, r.bytes, consumed)) {
    r.badIndex = consumed / 4;
    return r;
  }
  r.ok = true;
  return r;
}

SystemDecoded systemDecode(const std::string& bytes, unsigned codePage) {
  SystemDecoded r;
  std::string name = iconvName(codePage);
  Converter c("UTF-32LE", name.c_str());
  if (!c.ok()) {
    r.unsupported = true;
    return r;
  }
  std::string out;
  size_t consumed = 0;
  if (!convert(c, bytes, out, consumed)) {
    r.offsetKnown = true;
    r.badOffset = consumed;
    return r;
  }
  for (size_t i = 0; i + 4 <= out.size(); i += 4) {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= uint32_t(static_cast<unsigned char>(out[i + k])) << (8 * k);
    r.chars += char32_t(v);
  }
  r.ok = true;
  return r;
}
