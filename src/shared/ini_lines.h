#pragma once

#include <optional>
#include <string>

// The settings text as a list of lines of bytes, so that an edit touches one line and carries
// every other byte through: junk, NUL bytes, a byte-order mark, an unterminated "[name",
// duplicates, comments and the text's own line ends. Section and key names compare without
// ASCII case; the first section of a name, and the first key in it, count.
namespace IniLines {

// The value of key in the first section named `section`, blanks around it cut; nullopt when
// the section or the key is missing.
std::optional<std::string> valueOf(const std::string& text, const std::string& section,
                                   const std::string& key);

// `text` with key=value: the key's line replaced, or a line added after the section's last key,
// or the section added at the end of the text. Nothing else changes, except that a last line
// without a line end gets one when a line is added after it.
std::string withValue(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value);

// Why valueOf could not give back what withValue would write ("" when it could): a line
// break, blanks at either end, or a name that would read as something else.
std::string whyUnstorable(const std::string& section, const std::string& key,
                          const std::string& value);

}  // namespace IniLines
