// Text from a description (or any file) on its way to the terminal: what
// could drive the terminal instead of being shown is shown as an escape.
#pragma once

#include <string>
#include <string_view>

// `text` (UTF-8) with every character that a terminal would act on written as
// an escape: C0 controls (tab and line breaks included) and DEL as "\xNN",
// C1 controls (U+0080-U+009F), the line and paragraph separators and the
// bidirectional embedding, override and isolate controls as "\uNNNN", and
// every byte that is not part of valid UTF-8 (a lone 0x9B is CSI on some
// terminals) as "\xNN". Everything else, '\' included, is kept as it is.
std::string escapeForTerminal(std::string_view text);

// JSON text (valid UTF-8, as a JSON writer makes it) with DEL, the C1
// controls, the line and paragraph separators and the bidirectional controls
// written as "\uNNNN" escapes, which JSON allows in strings, where alone
// they can stand: the same JSON value, safe to show on a terminal. The JSON
// writer has already escaped the C0 controls.
std::string jsonForTerminal(std::string_view json);
