// Text from outside the program (a guest, a peer, a file) made safe for a log line or a prompt:
// nothing in it can end the line, start a forged one, or reorder what is shown around it.
// Platform-free.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace Pd::Core
{

// Characters that would break or disguise a line when shown: C0 and C1 controls, DEL, the Arabic
// letter mark, zero-width characters and direction marks, line and paragraph separators,
// direction embeddings, overrides and isolates, and the byte-order mark.
bool IsHiddenCharacter(char32_t character);

// The length and code point of the UTF-8 sequence that starts a non-empty text; length 0 when it
// is not a complete, shortest-form sequence of a Unicode scalar value.
std::pair<std::size_t, char32_t> DecodeUtf8(std::string_view text);

// UTF-8 for a log line: hidden characters and invalid bytes become "\xNN" (a byte) or "\uNNNN",
// a backslash becomes "\\", everything else stays. After maxCharacters characters of input the
// rest is cut and "…" marks the cut.
std::string EscapeForLog(std::string_view text, std::size_t maxCharacters = 300);

// The same for a field the line shows between double quotes: a '"' becomes "\x22" too, so that
// the field cannot seem to end early.
std::string EscapeQuotedForLog(std::string_view text, std::size_t maxCharacters = 300);

} // namespace Pd::Core
