// The configuration store: accessors over the tables read from the block.
// Every accessor returns a copy; none changes the tables.
#pragma once

#include <string>
#include <string_view>

#include "config/config_block.h"
#include "config/config_keys.h"

// Reads a value with the rules of the C runtime's atoi: leading white space,
// an optional sign, decimal digits up to the first non-digit; no digits gives
// 0. Values beyond the int range saturate instead of overflowing.
int parseConfigInt(std::string_view text);

// Pure accessors over a given store. Values end at their first NUL byte; an
// absent key gives the empty text or 0.
std::string getConfigString(const ConfigTables& store, ConfigKey key);
std::u16string getConfigWString(const ConfigTables& store, WideKey key);
int getConfigInt(const ConfigTables& store, ConfigKey key);

// The same over the process-wide store.
std::string getConfigString(ConfigKey key);
std::u16string getConfigWString(WideKey key);
int getConfigInt(ConfigKey key);
