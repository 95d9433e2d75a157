// The start-up steps that prepare the launcher process.
#pragma once

#include <string>

#include "startup/command_line.h"

// Puts the configured directories (key 10004) in front of PATH, in the
// process environment and in the C runtime's copy. Failures are ignored.
void prefixSearchPath();

// Makes the configured working directory (key 146) current; a failure is
// ignored, an empty key leaves the directory unchanged.
void enterWorkingDirectory();

// The start-up steps: configuration block, flavour, PATH, working directory.
void initLauncher();

// Runs one command word's operation and returns its exit code.
int runCommand(CommandWord word);
