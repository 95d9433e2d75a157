// Variable expansion over the running process: the built-in values and a
// snapshot of the environment block, handed to jvm/variables.cpp.
#pragma once

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

// Records the runtime home derived from the chosen java executable.
void setJvmHome(const std::string& javaExe);
