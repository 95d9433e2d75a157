// Fuzzes the configuration-block reader with arbitrary bytes. The first byte
// chooses how much of the input counts as "read so far", so the grow-and-retry
// path is exercised too. Whatever parses must survive a write/read round trip.
// The same bytes as a stored probe setting (service/watchdog_rules): what
// parses must come back the same from its written form.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "config/config_block.h"
#include "config/pe_image.h"
#include "service/watchdog_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t split = size - 1 == 0 ? 0 : (data[0] * (size - 1)) / 255;
  const uint8_t* block = data + 1;
  size_t blockSize = size - 1;

  BlockParse partial = parseConfigBlock(block, split, blockSize, 0);
  BlockParse whole = parseConfigBlock(block, blockSize, blockSize, 0);
  // Reading less can only ask for more or agree with reading everything.
  if (!partial.needMore && partial.error != whole.error) std::abort();

  if (whole.error == BlockError::none) {
    BlockRecords records;
    for (auto& [k, v] : whole.tables.narrow) records.narrow.push_back({k, v});
    for (auto& [k, v] : whole.tables.wide) records.wide.push_back({k, v});
    std::vector<uint8_t> again = serializeConfigBlock(records);
    BlockParse reread = parseConfigBlock(again.data(), again.size(), again.size(), 0);
    if (reread.error != BlockError::none || reread.tables.narrow != whole.tables.narrow ||
        reread.tables.wide != whole.tables.wide) {
      std::abort();
    }
  }

  ProbeSetting probe;
  std::string why;
  bool startup = (data[0] & 1) != 0;
  if (parseProbeSetting(std::string_view(reinterpret_cast<const char*>(block), blockSize), startup, probe, why)) {
    ProbeSetting again;
    if (!parseProbeSetting(probeSettingText(probe), startup, again, why) || !(again.checks == probe.checks) ||
        probeSettingText(again) != probeSettingText(probe))
      std::abort();
  }

  PeLayout pe = parsePeLayout(data, size);
  if (pe.ok && pe.headerBytesNeeded > size) std::abort();
  return 0;
}
