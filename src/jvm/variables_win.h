// Variable expansion over the running process: the built-in values and a
// snapshot of the environment block, handed to jvm/variables.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "jvm/variables.h"

// The entries of the process environment block (NAME=VALUE, hidden =C:
// entries included), in block order; empty when the system gives no block.
std::vector<std::string> environmentSnapshot();

// The built-in values as they are now: the executable's directory, the
// extraction directory and the runtime home.
BuiltinValues currentBuiltinValues();

// Expands a configured text in place (see jvm/variables.h).
void expandVariables(std::string& text);

// Expands a configured text in place, then its %NAME% references to the
// process environment (the form of keys 30025 and 30027). False, with the
// text unchanged, when it would grow past `maxBytes`.
bool expandVariablesAndPercentReferences(std::string& text, std::size_t maxBytes);

// Sets the variables of key 30025 in this process, in order, each value's
// %NAME% references expanded first: what the Java search, the probed java
// executable and the VM see. Logs the names (never the values, which may be
// secrets) and what could not be set; a damaged setting is logged and
// ignored.
void applyConfiguredEnvironment();

// Records the runtime home derived from the chosen java executable.
void setJvmHome(const std::string& javaExe);
