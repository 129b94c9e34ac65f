#include "core/settings/profile_format.h"

#include <optional>

namespace lumiclip {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// One line of the text: [begin, contentEnd) is its content, [contentEnd, end) its line ending.
struct Line {
    std::size_t begin = 0;
    std::size_t contentEnd = 0;
    std::size_t end = 0;
};

// What a read or a write needs to know about where section/key sit in the text.
struct Location {
    bool sectionFound = false;
    // Where a new key of the section goes: the end of the section's last key line (or of its header).
    std::size_t insertAt = 0;
    // True when the line at insertAt has no line ending (the text's last line).
    bool insertAfterUnterminated = false;
    std::optional<std::size_t> valueBegin;
    std::size_t valueEnd = 0;
};

std::size_t bomLength(std::string_view text) {
    return text.substr(0, 3) == std::string_view("\xEF\xBB\xBF", 3) ? 3 : 0;
}

Location locate(std::string_view text, std::string_view section, std::string_view key) {
    section = trim(section);
    key = trim(key);
    Location where;
    bool inSection = false;
    std::size_t pos = bomLength(text);
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        const std::size_t newline = text.find('\n', pos);
        line.end = newline == std::string_view::npos ? text.size() : newline + 1;
        line.contentEnd = newline == std::string_view::npos ? text.size() : newline;
        if (line.contentEnd > line.begin && text[line.contentEnd - 1] == '\r') {
            --line.contentEnd;
        }
        pos = line.end;

        const std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
        const std::string_view trimmed = trim(content);
        if (trimmed.empty() || trimmed.front() == ';') {
            continue;
        }
        if (trimmed.front() == '[') {
            if (inSection) {
                break;  // only the first section of that name counts
            }
            std::string_view name = trimmed.substr(1);
            const std::size_t close = name.rfind(']');
            if (close != std::string_view::npos) {
                name = name.substr(0, close);
            }
            if (sameName(trim(name), section)) {
                inSection = true;
                where.sectionFound = true;
                where.insertAt = line.end;
                where.insertAfterUnterminated = newline == std::string_view::npos;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        const std::size_t equals = content.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        where.insertAt = line.end;
        where.insertAfterUnterminated = newline == std::string_view::npos;
        if (!sameName(trim(content.substr(0, equals)), key)) {
            continue;
        }
        std::size_t valueBegin = line.begin + equals + 1;
        std::size_t valueEnd = line.contentEnd;
        while (valueBegin < valueEnd && isBlank(text[valueBegin])) {
            ++valueBegin;
        }
        while (valueEnd > valueBegin && isBlank(text[valueEnd - 1])) {
            --valueEnd;
        }
        where.valueBegin = valueBegin;
        where.valueEnd = valueEnd;
        break;
    }
    return where;
}

// The line ending the text already uses.
std::string_view lineEnding(std::string_view text) {
    const std::size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') {
        return "\r\n";
    }
    return "\n";
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

}  // namespace

std::string ReadProfileValue(std::string_view text, std::string_view section, std::string_view key) {
    const Location where = locate(text, section, key);
    if (!where.valueBegin) {
        return {};
    }
    std::size_t length = where.valueEnd - *where.valueBegin;
    if (length > kProfileValueLimit) {
        // Cut before a UTF-8 sequence that would be split, so the text stays valid.
        length = kProfileValueLimit;
        for (int back = 0; back < 3 && length > 0; ++back) {
            const auto next = static_cast<unsigned char>(text[*where.valueBegin + length]);
            if ((next & 0xC0U) != 0x80U) {
                break;
            }
            --length;
        }
        const auto next = static_cast<unsigned char>(text[*where.valueBegin + length]);
        if ((next & 0xC0U) == 0x80U) {
            length = kProfileValueLimit;  // not UTF-8 anyway: plain byte cut
        }
    }
    return std::string(text.substr(*where.valueBegin, length));
}

bool IsWritableProfileEntry(std::string_view section, std::string_view key, std::string_view value) {
    if (hasLineBreakOrNul(section) || hasLineBreakOrNul(key) || hasLineBreakOrNul(value)) {
        return false;
    }
    const std::string_view name = trim(section);
    if (name.empty() || name.find(']') != name.npos) {
        return false;
    }
    const std::string_view k = trim(key);
    return !k.empty() && k.find('=') == k.npos && k.front() != '[' && k.front() != ';';
}

bool WriteProfileValue(std::string& text, std::string_view section, std::string_view key,
                       std::string_view value) {
    if (!IsWritableProfileEntry(section, key, value)) {
        return false;
    }
    const Location where = locate(text, section, key);
    if (where.valueBegin) {
        text.replace(*where.valueBegin, where.valueEnd - *where.valueBegin, value);
        return true;
    }
    const std::string eol(lineEnding(text));
    // Ends the unterminated last line. A '\r' it ends in is already part of its line ending as read, so
    // only the '\n' is added; a whole line ending after it would make that '\r' part of the line.
    const auto endingAfterLastLine = [&text, &eol](std::size_t at) {
        return at > 0 && text[at - 1] == '\r' ? std::string("\n") : eol;
    };
    std::string entry;
    entry.append(key).append("=").append(value);
    if (where.sectionFound) {
        if (where.insertAfterUnterminated) {
            text.insert(where.insertAt, endingAfterLastLine(where.insertAt) + entry);
        } else {
            text.insert(where.insertAt, entry + eol);
        }
        return true;
    }
    if (!text.empty() && text.back() != '\n') {
        text.append(endingAfterLastLine(text.size()));
    }
    text.append("[").append(section).append("]").append(eol).append(entry).append(eol);
    return true;
}

}  // namespace lumiclip
