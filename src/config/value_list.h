// List values: texts whose items are separated by one character, as in the
// configuration's list keys (class path, search sequence, included file
// names, path prefix) and the deletion lists. The one splitter of them all.
#pragma once

#include <string_view>
#include <vector>

inline constexpr char kListSeparator = ';';

enum class EmptyItems { keep, drop };

// The items of `list` in order. With EmptyItems::keep every separator
// divides two items ("a;" has "a" and an empty one) and the empty text has
// none; with EmptyItems::drop empty items are left out.
std::vector<std::string_view> splitList(std::string_view list, char separator,
                                        EmptyItems empty);
