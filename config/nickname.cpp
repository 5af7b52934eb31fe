#include "config/nickname.h"

#include "core/sjis.h"
#include "platform/fileutil.h"

namespace kolvy::config {

namespace {
// The table is a small hand-kept file; anything bigger is not one.
constexpr uint64_t kMaxFileBytes = 16u << 20;
}  // namespace

void Nicknames::load(Env& env) {
    entries_.clear();
    auto text = platform::readWholeFile(env.fs, env.path("Nickname.txt"), kMaxFileBytes);
    if (text) parse(*text);
}

void Nicknames::parse(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        // Runs of CR and LF between lines are skipped.
        while (i < text.size() && (text[i] == '\r' || text[i] == '\n'))
            ++i;
        if (i >= text.size()) break;
        size_t end = i;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        const std::string_view line = text.substr(i, end - i);
        i = end;
        const size_t semi = sjis::find(line, ';');
        if (semi == std::string_view::npos) continue;  // no nickname on this line
        NicknameEntry e;
        e.address = std::string(sjis::truncate(line.substr(0, semi), kNicknameAddressMax));
        e.nickname = std::string(sjis::truncate(line.substr(semi + 1), kNicknameMax));
        entries_.push_back(std::move(e));
    }
}

const std::string* Nicknames::find(std::string_view address) const {
    for (const NicknameEntry& e : entries_) {
        if (e.address == address) return &e.nickname;
    }
    return nullptr;
}

}  // namespace kolvy::config
