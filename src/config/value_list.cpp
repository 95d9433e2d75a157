#include "config/value_list.h"

std::vector<std::string_view> splitList(std::string_view list, char separator,
                                        EmptyItems empty) {
  std::vector<std::string_view> items;
  if (list.empty()) return items;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = list.find(separator, start);
    std::string_view item = list.substr(start, end == std::string_view::npos ? end : end - start);
    if (!item.empty() || empty == EmptyItems::keep) items.push_back(item);
    if (end == std::string_view::npos) return items;
    start = end + 1;
  }
}
