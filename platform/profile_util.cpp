#include <cstdio>

#include "core/sjis.h"
#include "platform/platform.h"

namespace kolvy::platform {

std::optional<int64_t> parseNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    // Accumulate in unsigned 64 bits and saturate: a damaged ini must not overflow.
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            break;
        }
        if (value > (UINT64_MAX >> 5)) {
            value = static_cast<uint64_t>(INT64_MAX);
        } else {
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        }
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (value > static_cast<uint64_t>(INT64_MAX)) value = static_cast<uint64_t>(INT64_MAX);
    const auto v = static_cast<int64_t>(value);
    return negative ? -v : v;
}

std::string readString(Profile& p, std::string_view section, std::string_view key,
                       std::string_view def, size_t maxBytes) {
    auto v = p.read(section, key);
    const std::string_view text = v ? std::string_view(*v) : def;
    return std::string(sjis::truncate(text, maxBytes));
}

int64_t readInt(Profile& p, std::string_view section, std::string_view key, int64_t def) {
    auto v = p.read(section, key);
    // As the platform's own integer reader: a missing or empty value gives the default, text
    // that is not a number gives 0.
    if (!v || v->empty()) return def;
    return parseNumber(*v).value_or(0);
}

Err writeInt(Profile& p, std::string_view section, std::string_view key, int64_t value) {
    return p.write(section, key, std::to_string(value));
}

Err writeHex(Profile& p, std::string_view section, std::string_view key, uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", value);
    return p.write(section, key, buf);
}

}  // namespace kolvy::platform
