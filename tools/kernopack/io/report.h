// The packer's one way to say what went wrong: one line on standard error,
// "kernopack: " and the text, escaped for the terminal.
#pragma once

__attribute__((format(printf, 1, 2))) void report(const char* format, ...);
