// Where a packer built in this source tree looks for what is not beside it:
// the build trees of the launcher templates and of the runtime jar. A packer
// built to ship (the release bundle) has none: it finds everything beside
// itself, and no build path ends up in what is shipped.
#pragma once

extern const char* const kPackerWin64Dir;
extern const char* const kPackerWin32Dir;
extern const char* const kPackerRuntimeDir;
