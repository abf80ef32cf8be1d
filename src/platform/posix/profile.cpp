// GetPrivateProfileIntA: an integer from an INI file. An edit takes effect at the next read:
// the file is read again unless it is provably the one read last (same file, size and change
// times, and those times well before that read), so a large file costs one read, not one per
// key. The rules are those the platform's own reader follows:
//
// File
// - The name may be in Windows or POSIX form; a name without a directory part lies in the
//   Windows directory (no name at all: "win.ini" there). A file that cannot be read, and
//   anything that is not a regular file (folder, FIFO, device), is a file without sections.
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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform_control.h"
#include "platform/posix/entry_fault.h"
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

// The next line of `content`, trimmed, taken off its front (CR, LF and CR LF end lines).
std::string_view TakeLine(std::string_view& content) {
    const size_t end = content.find_first_of("\r\n");
    const std::string_view line = Trim(content.substr(0, end));
    if (end == std::string_view::npos) {
        content = {};
    } else {
        size_t next = end + 1;
        if (content[end] == '\r' && next < content.size() && content[next] == '\n') ++next;
        content.remove_prefix(next);
    }
    return line;
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

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

FileIdentity IdentityOf(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

// File times are coarse: a file changed within this long before it was read may change again
// with the same times, so only an older one is kept.
constexpr time_t kSettledSeconds = 2;

struct ProfileFile {
    std::string content;
    FileIdentity identity;
    bool settled = false;  // its times lay kSettledSeconds or more before the read
};

// Only a regular file is read: a folder, FIFO or device counts as missing, and neither the
// open nor a read waits for another program.
std::optional<ProfileFile> ReadWholeFile(const std::string& posixPath) {
    int fd;
    do {
        fd = open(posixPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    ProfileFile file;
    file.identity = IdentityOf(status);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t newest = std::max(status.st_mtim.tv_sec, status.st_ctim.tv_sec);
    file.settled = now.tv_sec - newest >= kSettledSeconds;
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of file, or a read error: what came so far counts
        file.content.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return file;
}

// The value text of section/key in `content`, or nothing when the key is not there.
std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
    enum class Where { BeforeAny, InWanted, Elsewhere } where = Where::BeforeAny;
    bool wantedSeen = false;
    while (!content.empty()) {
        const std::string_view line = TakeLine(content);
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

std::string LowerKey(std::string_view section, std::string_view key) {
    std::string out;
    for (char c : section) out += LowerAscii(c);
    out += '\n';
    for (char c : key) out += LowerAscii(c);
    return out;
}

// Every value of the file by "section\nkey" in lower case, by the lookup rules above: only the
// first section of a name and, within it, the first key of a name count. One pass.
std::map<std::string, std::string> IndexValues(std::string_view content) {
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
    std::map<std::string, std::string> values;
    std::set<std::string> sectionsSeen;
    std::string section;
    bool counting = false;  // inside the first section of its name
    while (!content.empty()) {
        const std::string_view line = TakeLine(content);
        if (line.empty()) continue;
        size_t close = line.rfind(']');
        if (line.front() == '[' && close != std::string_view::npos) {
            section = LowerKey(Trim(line.substr(1, close - 1)), "");
            counting = sectionsSeen.insert(section).second;
            continue;
        }
        if (!counting) continue;
        const size_t equals = line.find('=');
        std::string lookup = section;  // "section\n"
        for (char c : Trim(line.substr(0, equals))) lookup += LowerAscii(c);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : Trim(line.substr(equals + 1));
        values.emplace(std::move(lookup), std::string(value));  // the first of a name stays
    }
    return values;
}

// The last settled file read, as an index of its values.
struct KeptProfile {
    std::string path;
    FileIdentity identity;
    std::map<std::string, std::string> values;
};
std::mutex g_keptLock;
std::optional<KeptProfile> g_kept;

// The unquoted value text of section/key in the file, or nothing when there is none.
std::optional<std::string> ProfileValue(const std::string& path, std::string_view section,
                                        std::string_view key) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    std::lock_guard<std::mutex> hold(g_keptLock);
    if (!g_kept || g_kept->path != path || !(g_kept->identity == IdentityOf(status))) {
        std::optional<ProfileFile> file = ReadWholeFile(path);
        if (!file) return std::nullopt;
        if (!file->settled) {
            g_kept.reset();
            const std::optional<std::string_view> value = FindValue(file->content, section, key);
            if (!value) return std::nullopt;
            return std::string(Unquote(*value));
        }
        g_kept = KeptProfile{path, file->identity, IndexValues(file->content)};
    }
    auto found = g_kept->values.find(LowerKey(section, key));
    if (found == g_kept->values.end()) return std::nullopt;
    return std::string(Unquote(found->second));
}

}  // namespace
}  // namespace b58::platform

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) try {
    using namespace b58::platform;
    const UINT fallback = static_cast<UINT>(defaultValue);
    if (section == nullptr || key == nullptr) return fallback;
    const std::optional<std::string> text = ProfileValue(ProfilePath(fileName), Trim(section), Trim(key));
    if (!text || text->empty()) return fallback;
    return ParseProfileInteger(*text);
} catch (...) {
    return b58::platform::EntryFault(static_cast<UINT>(defaultValue));
}
