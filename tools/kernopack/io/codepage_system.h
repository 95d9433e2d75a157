// The system's own code-page converters, for code pages other than the
// built-in ones: iconv natively (codepage_iconv.cpp), the Win32 conversion
// functions in the Windows build (codepage_win.cpp). Only codepage.cpp calls
// these.
#pragma once

#include <cstddef>
#include <string>

struct SystemEncoded {
  bool ok = false;
  std::string bytes;
  bool unsupported = false;  // the code page itself cannot be used
  size_t badIndex = 0;       // 0-based index into the code points, when !ok
};

struct SystemDecoded {
  bool ok = false;
  std::u32string chars;
  bool unsupported = false;
  bool offsetKnown = false;
  size_t badOffset = 0;  // 0-based byte offset, when offsetKnown
};

bool systemCodePageAvailable(unsigned codePage);
SystemEncoded systemEncode(const std::u32string& chars, unsigned codePage);
SystemDecoded systemDecode(const std::string& bytes, unsigned codePage);
