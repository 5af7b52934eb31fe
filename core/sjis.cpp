#include "core/sjis.h"

#include <algorithm>
#include <cstring>

namespace kolvy::sjis {

size_t boundaryAtOrBefore(std::string_view s, size_t n) {
    if (n >= s.size()) return s.size();
    size_t i = 0;
    while (i < n) {
        const size_t len = charLen(s, i);
        if (i + len > n) break;
        i += len;
    }
    return i;
}

size_t copyBounded(char* dest, size_t capacity, std::string_view src) {
    if (capacity == 0) return 0;
    const size_t n = boundaryAtOrBefore(src, std::min(src.size(), capacity - 1));
    std::memcpy(dest, src.data(), n);
    dest[n] = '\0';
    return n;
}

std::string_view truncate(std::string_view s, size_t maxBytes) {
    return s.substr(0, boundaryAtOrBefore(s, maxBytes));
}

size_t find(std::string_view hay, std::string_view needle, size_t from) {
    if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
    // Candidates come from a byte search; `walk` advances character by character behind it so
    // that only candidates on a boundary count. Both only move forward: linear overall.
    size_t walk = from;
    size_t pos = from;
    while (pos < hay.size()) {
        const size_t cand = hay.find(needle, pos);
        if (cand == std::string_view::npos) return cand;
        while (walk < cand)
            walk += charLen(hay, walk);
        if (walk == cand) return cand;
        pos = cand + 1;
    }
    return std::string_view::npos;
}

size_t find(std::string_view hay, char c, size_t from) {
    return find(hay, std::string_view(&c, 1), from);
}

size_t rfind(std::string_view hay, char c) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < hay.size(); i += charLen(hay, i)) {
        if (hay[i] == c) found = i;
    }
    return found;
}

namespace {

// Folds one character to a comparison key: upper case for the letters the platform folds.
uint32_t foldedChar(std::string_view s, size_t i, size_t len) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (len == 1) {
        return (b0 >= 'a' && b0 <= 'z') ? b0 - 0x20u : b0;
    }
    auto b1 = static_cast<unsigned char>(s[i + 1]);
    if (b0 == 0x82 && b1 >= 0x81 && b1 <= 0x9A) {
        b1 -= 0x21;  // full-width a-z -> A-Z
    } else if (b0 == 0x83 && b1 >= 0xBF && b1 <= 0xD6) {
        b1 -= 0x20;  // Greek
    } else if (b0 == 0x84 && b1 >= 0x70 && b1 <= 0x7E) {
        b1 -= 0x30;  // Cyrillic, before the 0x7F gap
    } else if (b0 == 0x84 && b1 >= 0x80 && b1 <= 0x91) {
        b1 -= 0x31;  // Cyrillic, after the gap
    }
    return (static_cast<uint32_t>(b0) << 8) | b1;
}

}  // namespace

int compareNoCase(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const size_t la = charLen(a, i), lb = charLen(b, j);
        const uint32_t ca = foldedChar(a, i, la), cb = foldedChar(b, j, lb);
        if (ca != cb) return ca < cb ? -1 : 1;
        i += la;
        j += lb;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool equalsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size();) {
        const size_t len = charLen(a, i);
        if (len == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else {
            auto up = [](char c) {
                return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
            };
            if (up(a[i]) != up(b[i])) return false;
        }
        i += len;
    }
    return true;
}

size_t findNoCase(std::string_view hay, std::string_view needle, size_t from) {
    if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
    for (size_t i = from; i < hay.size(); i += charLen(hay, i)) {
        if (hay.size() - i < needle.size()) break;
        // Compare character by character so that a match must also end on a boundary.
        size_t hi = i, ni = 0;
        while (ni < needle.size() && hi < hay.size()) {
            const size_t lh = charLen(hay, hi), ln = charLen(needle, ni);
            if (foldedChar(hay, hi, lh) != foldedChar(needle, ni, ln)) break;
            hi += lh;
            ni += ln;
        }
        if (ni == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool isSeparatorAt(std::string_view path, size_t i) {
    return i < path.size() && (path[i] == '\\' || path[i] == '/');
}

namespace {
// Position of the last separator that is a character of its own, or npos.
size_t lastSeparator(std::string_view path) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < path.size(); i += charLen(path, i)) {
        if (isSeparatorAt(path, i)) found = i;
    }
    return found;
}
}  // namespace

bool endsWithSeparator(std::string_view path) {
    const size_t sep = lastSeparator(path);
    return sep != std::string_view::npos && sep + 1 == path.size();
}

std::string_view lastComponent(std::string_view path) {
    while (endsWithSeparator(path))
        path.remove_suffix(1);
    const size_t sep = lastSeparator(path);
    return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string_view parentPath(std::string_view path) {
    while (endsWithSeparator(path))
        path.remove_suffix(1);
    const size_t sep = lastSeparator(path);
    return sep == std::string_view::npos ? std::string_view{} : path.substr(0, sep);
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out;
    out.reserve(folder.size() + name.size() + 1);
    out.append(folder);
    if (!folder.empty() && !endsWithSeparator(folder)) out.push_back('\\');
    out.append(name);
    return out;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace kolvy::sjis
