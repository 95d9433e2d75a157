// The packer's one way to say what went wrong: one line on standard error,
// "kernopack: " and the text, escaped for the terminal; and what it ends
// with.
#pragma once

// The packer's exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;   // the system failed us: reading, writing
constexpr int kExitBadInput = 2;  // the input or the command line is wrong

__attribute__((format(printf, 1, 2))) void report(const char* format, ...);
