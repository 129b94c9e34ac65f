#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumiclip {

// The text rules of a profile (INI) file, on raw bytes and free of Qt so that the fuzz target can build
// them alone:
// - lines end in "\n" (a "\r" before it belongs to the line ending); a UTF-8 byte-order mark at the start
//   is ignored;
// - a line whose first non-blank character is '[' starts a section; its name runs to the last ']' (or to
//   the end of the line), blanks around it trimmed;
// - a line whose first non-blank character is ';' is a comment;
// - any other line with a '=' is a key line: the key is the text before the first '=', the value the text
//   after it, both with blanks (spaces and tabs) trimmed;
// - section and key names match without regard to ASCII case; the first matching key of the first
//   matching section (in file order) is the one read and replaced.
// Lines before the first section header belong to no section and are never matched.

// The most bytes of a value a read returns; longer values are cut (never inside a UTF-8 sequence).
inline constexpr std::size_t kProfileValueLimit = 499;

// The value of key in section, trimmed and cut to kProfileValueLimit bytes; empty when the section or the
// key is missing.
std::string ReadProfileValue(std::string_view text, std::string_view section, std::string_view key);

// True when the names and the value can be written without changing the meaning of other lines: no line
// breaks or NUL anywhere; a section name without ']' and not blank; a key not blank, without '=', and not
// starting with '[' or ';' once trimmed.
bool IsWritableProfileEntry(std::string_view section, std::string_view key, std::string_view value);

// Sets key in section to value in text: replaces the value of an existing key in place (the part of the
// line up to the value is kept), or adds the key at the end of its section, or adds the section at the
// end of the text. Every other line stays byte for byte as it was. New lines use the text's own line
// ending ("\r\n" when its first line ends so, else "\n"). False, with text untouched, when
// IsWritableProfileEntry rejects the entry.
bool WriteProfileValue(std::string& text, std::string_view section, std::string_view key,
                       std::string_view value);

}  // namespace lumiclip
