#include "config/config_store_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/system_error_win.h"
#include "config/config_block.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/paths_win.h"
#include "config/pe_image.h"

namespace {

// The first read of the block; grows when the block turns out larger.
constexpr size_t kFirstBlockRead = 64 * 1024;
// No configuration block is anywhere near this large; a count or length that
// would need more is treated like one the file cannot hold.
constexpr uint64_t kMaxBlockBytes = 256u * 1024 * 1024;

// Reads up to `count` bytes at `offset`; returns what was read.
std::vector<uint8_t> readAt(HANDLE file, uint64_t offset, size_t count) {
  std::vector<uint8_t> buf(count);
  LARGE_INTEGER pos;
  pos.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return {};
  size_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, buf.data() + done, chunk, &got, nullptr) || got == 0) break;
    done += got;
  }
  buf.resize(done);
  return buf;
}

// Reads and parses the block at `imageEnd`, of which the file holds
// `available` bytes: 64 KiB first, more while the parse asks for it.
BlockParse readBlock(HANDLE file, uint64_t imageEnd, uint64_t available) {
  available = std::min(available, kMaxBlockBytes);
  size_t want = static_cast<size_t>(std::min<uint64_t>(available, kFirstBlockRead));
  for (;;) {
    std::vector<uint8_t> bytes = readAt(file, imageEnd, want);
    // A short read means the file ended early: parse what is there.
    uint64_t limit = bytes.size() < want ? bytes.size() : available;
    BlockParse parsed = parseConfigBlock(bytes.data(), bytes.size(), limit, imageEnd);
    if (parsed.error == BlockError::none || !parsed.needMore || want == available) return parsed;
    want = static_cast<size_t>(std::min<uint64_t>(available, uint64_t(want) * 4));
  }
}

[[noreturn]] void failBlock(BlockError error) {
  // The integer reader reports the system's last error on standard output.
  if (error == BlockError::readInt) {
    std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
    std::fflush(stdout);
  }
  fatalError(blockErrorText(error));
}

}  // namespace

UniqueHandle openMediaFile() {
  const std::string& path = getExecutablePath();
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    logError("Could not open %s", path.c_str());
    fatalError("Error opening media file. Please move this file to an ascii-only path like c:\\");
  }
  return file;
}

void loadConfig() {
  UniqueHandle file = openMediaFile();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) failBlock(BlockError::readInt);
  uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);

  // The block starts right after the raw data of the last section header.
  std::vector<uint8_t> head = readAt(file.get(), 0, std::min<uint64_t>(fileSize, kPeHeaderReadSize));
  PeLayout pe = parsePeLayout(head.data(), head.size());
  if (!pe.ok) failBlock(BlockError::readInt);
  // A signed executable ends with its certificate table; the block lies
  // before it, inside what the signature covers.
  uint64_t dataEnd = appendedDataEnd(pe, fileSize);
  if (pe.imageEnd >= dataEnd) {
    SetLastError(ERROR_HANDLE_EOF);
    failBlock(BlockError::readInt);
  }

  BlockParse parsed = readBlock(file.get(), pe.imageEnd, dataEnd - pe.imageEnd);
  // On damage, the records read before it count as read: the message box
  // shows the caption (key 1000) when it came before the damage.
  configTables() = std::move(parsed.tables);
  if (parsed.error != BlockError::none) failBlock(parsed.error);
  file.reset();

  int type = getConfigInt(ConfigKey::executableType);
  if (type != kExecutableTypeGui && type != kExecutableTypeMessageBox) useConsoleMessages();
}

ExecutableContents readExecutableContents(const std::string& path) {
  ExecutableContents out;
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    out.problem = "cannot read " + path + ": " + systemErrorLineFor(GetLastError());
    return out;
  }
  uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
  std::vector<uint8_t> head =
      readAt(file.get(), 0, std::min<uint64_t>(fileSize, kPeHeaderReadSize));
  PeLayout pe = parsePeLayout(head.data(), head.size());
  if (!pe.ok) {
    out.problem = path + " is no executable the launcher can read: " + pe.error;
    return out;
  }
  // The version resource lies inside the image, which is read only as far
  // as kMaxInspectedImageBytes.
  uint64_t imageBytes = std::min({pe.imageEnd, fileSize, kMaxInspectedImageBytes});
  std::vector<uint8_t> image = readAt(file.get(), 0, static_cast<size_t>(imageBytes));
  out.version = readVersionInfo(image.data(), image.size());
  uint64_t dataEnd = appendedDataEnd(pe, fileSize);
  if (pe.imageEnd >= dataEnd) {
    out.blockProblem = "no configuration block after the image of " + path;
    return out;
  }
  BlockParse parsed = readBlock(file.get(), pe.imageEnd, dataEnd - pe.imageEnd);
  if (parsed.error != BlockError::none) {
    out.blockProblem = std::string("the configuration block of ") + path + " is damaged: " +
                       blockErrorText(parsed.error);
    return out;
  }
  out.block = std::move(parsed.tables);
  out.blockRead = true;
  return out;
}
