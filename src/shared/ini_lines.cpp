#include "shared/ini_lines.h"

#include <string_view>
#include <vector>

namespace IniLines {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r\v\f";

// [begin, contentEnd) is the line's text, [contentEnd, end) its line end ("\n" or "\r\n").
struct Line {
    size_t begin, contentEnd, end;
};

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;   // section or key name, blanks cut
    std::string_view value;  // a key's value, blanks cut
};

std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t newline = text.find('\n', begin);
        if (newline == std::string::npos) {
            lines.push_back({begin, text.size(), text.size()});
            break;
        }
        const size_t contentEnd =
            newline > begin && text[newline - 1] == '\r' ? newline - 1 : newline;
        lines.push_back({begin, contentEnd, newline + 1});
        begin = newline + 1;
    }
    return lines;
}

std::string_view trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

Parsed parse(const std::string& text, const Line& line) {
    std::string_view content(text.data() + line.begin, line.contentEnd - line.begin);
    if (line.begin == 0 && content.starts_with(kByteOrderMark))
        content.remove_prefix(kByteOrderMark.size());
    content = trimmed(content);
    Parsed parsed;
    if (content.empty() || content[0] == ';' || content[0] == '#') return parsed;
    if (content[0] == '[') {
        // "[name" without its bracket is nothing: no section starts there.
        const size_t close = content.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = Kind::Section;
            parsed.name = trimmed(content.substr(1, close - 1));
        }
        return parsed;
    }
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) return parsed;
    parsed.name = trimmed(content.substr(0, equals));
    if (parsed.name.empty()) return parsed;
    parsed.kind = Kind::Key;
    parsed.value = trimmed(content.substr(equals + 1));
    return parsed;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// Where a key lives: the index of its section's header and of its line (npos when missing),
// and the last key line of that section (the header when it has none).
struct Place {
    size_t section = std::string::npos;
    size_t key = std::string::npos;
    size_t lastKey = std::string::npos;
    std::string_view value;
};

Place find(const std::string& text, const std::vector<Line>& lines, std::string_view section,
           std::string_view key) {
    Place place;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Parsed parsed = parse(text, lines[i]);
        if (place.section == std::string::npos) {
            if (parsed.kind == Kind::Section && sameName(parsed.name, section))
                place.section = place.lastKey = i;
            continue;
        }
        if (parsed.kind == Kind::Section) break;
        if (parsed.kind != Kind::Key) continue;
        place.lastKey = i;
        if (sameName(parsed.name, key)) {
            place.key = i;
            place.value = parsed.value;
            break;
        }
    }
    return place;
}

std::string lineEndOf(const std::string& text) {
    const size_t newline = text.find('\n');
    return newline != std::string::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

bool hasAny(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> valueOf(const std::string& text, const std::string& section,
                                   const std::string& key) {
    const Place place = find(text, splitLines(text), section, key);
    if (place.key == std::string::npos) return std::nullopt;
    return std::string(place.value);
}

std::string withValue(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
    const std::vector<Line> lines = splitLines(text);
    const Place place = find(text, lines, section, key);
    const std::string eol = lineEndOf(text);
    const std::string keyLine = key + "=" + value;
    if (place.key != std::string::npos) {
        const Line& line = lines[place.key];
        std::string out = text.substr(0, line.begin);
        if (line.begin == 0 && std::string_view(text).starts_with(kByteOrderMark))
            out += kByteOrderMark;
        return out + keyLine + text.substr(line.contentEnd);
    }
    if (place.section == std::string::npos) {
        std::string out = text;
        if (!out.empty() && out.back() != '\n') out += eol;
        return out + "[" + section + "]" + eol + keyLine + eol;
    }
    const Line& after = lines[place.lastKey];
    std::string out = text.substr(0, after.end);
    if (after.end == after.contentEnd) out += eol;  // the last line had no line end
    return out + keyLine + eol + text.substr(after.end);
}

std::string whyUnstorable(const std::string& section, const std::string& key,
                          const std::string& value) {
    if (hasAny(section, "\n\r") || hasAny(key, "\n\r") || hasAny(value, "\n\r"))
        return "a line break cannot be stored";
    if (trimmed(section) != section || trimmed(key) != key || trimmed(value) != value)
        return "blanks at the start or end cannot be stored";
    if (section.empty() || hasAny(section, "]"))
        return "no section can be named \"" + section + "\"";
    if (key.empty() || hasAny(key, "=") || hasAny(key.substr(0, 1), ";#["))
        return "no key can be named \"" + key + "\"";
    return "";
}

}  // namespace IniLines
