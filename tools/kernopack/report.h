// The packer's one way to say what went wrong: "kernopack: " and the text on
// standard error, one line.
#pragma once

__attribute__((format(printf, 1, 2))) void report(const char* format, ...);
