// GetPrivateProfileIntA: an integer from an INI file, read afresh on every call (the file
// is never cached, so an edit takes effect at the next read). The rules are those the
// platform's own reader follows:
//
// File
// - The name may be in Windows or POSIX form; a name without a directory part lies in the
//   Windows directory (no name at all: "win.ini" there). A file that cannot be read is a
//   file without sections.
// - A UTF-8 byte-order mark is skipped. Lines end at "\n", "\r\n" or "\r".
// - A line whose first non-blank character is '[' and that holds a ']' starts a section;
//   the name lies between the '[' and the last ']', blanks around it trimmed. A '[' line
//   without ']' is an ordinary line.
// - Any other line is "key=value": the key is the text before the first '=', the value the
//   text after it, both with blanks around them trimmed; a line without '=' is a key
//   without a value. Lines before the first section belong to none.
// Lookup
// - Section and key names are trimmed and compared without regard to case. Only the first
//   section of the name is searched, and within it the first key of the name counts.
// - A value wholly enclosed in a pair of matching quotes (" or ') loses them.
// - A missing file, section or key, a key without a value and an empty value give the
//   default.
// Number
// - Leading characters up to and including blank are skipped, then one optional sign.
// - "0x" introduces hexadecimal digits, "0o" octal and "0b" binary (lower-case prefixes
//   only); decimal otherwise.
// - Digits are taken up to the first character that is not one of the base; none gives 0.
//   The value is accumulated modulo 2^32 and negated for '-', then returned as it is:
//   "4294967295" gives 0xFFFFFFFF (-1 as INT), "12abc" 12, "- 5" 0, "0X10" 0.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string ProfilePath(const char* fileName) {
    std::string name = fileName != nullptr ? fileName : "win.ini";
    if (name.find_first_of("\\/") == std::string::npos) {
        char directory[MAX_PATH];
        UINT length = GetWindowsDirectoryA(directory, sizeof directory);
        if (length > 0 && length < sizeof directory) name = std::string(directory) + "\\" + name;
    }
    return ToPosixPath(name.c_str());
}

std::optional<std::string> ReadWholeFile(const std::string& posixPath) {
    std::ifstream file(posixPath, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The value text of section/key in `content`, or nothing when the key is not there.
std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
    enum class Where { BeforeAny, InWanted, Elsewhere } where = Where::BeforeAny;
    bool wantedSeen = false;
    while (!content.empty()) {
        size_t end = content.find_first_of("\r\n");
        std::string_view line = Trim(content.substr(0, end));
        if (end == std::string_view::npos) {
            content = {};
        } else {
            size_t next = end + 1;
            if (content[end] == '\r' && next < content.size() && content[next] == '\n') ++next;
            content.remove_prefix(next);
        }
        if (line.empty()) continue;

        size_t close = line.rfind(']');
        if (line.front() == '[' && close != std::string_view::npos) {
            if (wantedSeen) return std::nullopt;  // only the first section of the name counts
            wantedSeen = SameName(Trim(line.substr(1, close - 1)), section);
            where = wantedSeen ? Where::InWanted : Where::Elsewhere;
            continue;
        }
        if (where != Where::InWanted) continue;
        size_t equals = line.find('=');
        if (!SameName(Trim(line.substr(0, equals)), key)) continue;
        if (equals == std::string_view::npos) return std::string_view();
        return Trim(line.substr(equals + 1));
    }
    return std::nullopt;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

uint32_t ParseProfileInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        switch (text[i + 1]) {
            case 'x':
                base = 16;
                break;
            case 'o':
                base = 8;
                break;
            case 'b':
                base = 2;
                break;
            default:
                break;
        }
        if (base != 10) i += 2;
    }
    uint32_t total = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'z') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'Z') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) break;
        total = total * base + digit;  // unsigned: wraps modulo 2^32
    }
    return negative ? 0u - total : total;
}

}  // namespace
}  // namespace b58::platform

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    using namespace b58::platform;
    const UINT fallback = static_cast<UINT>(defaultValue);
    if (section == nullptr || key == nullptr) return fallback;
    std::optional<std::string> content = ReadWholeFile(ProfilePath(fileName));
    if (!content) return fallback;
    std::optional<std::string_view> value = FindValue(*content, Trim(section), Trim(key));
    if (!value) return fallback;
    std::string_view text = Unquote(*value);
    if (text.empty()) return fallback;
    return ParseProfileInteger(text);
}
