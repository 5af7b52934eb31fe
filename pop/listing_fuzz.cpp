// The LIST and UIDL readers and the kept form of ids on arbitrary replies: numbers are positive
// and listed once, ids hold no line end, and every id's kept form fits its field, holds no blank
// or control byte and is the id itself whenever the id already had that shape.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "pop/listing.h"
#include "pop/uidl_store.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
bool plain(std::string_view id) {
    if (id.size() > kolvy::pop::kMaxUidl) return false;
    for (char c : id) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7f) return false;
    }
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::pop;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    std::vector<ListedSize> sizes;
    const ListingStatus ls = parseList(in, sizes);
    check(ls == ListingStatus::Ok || sizes.empty() || ls == ListingStatus::Malformed);
    std::unordered_set<int32_t> seen;
    for (const ListedSize& s : sizes)
        check(s.number > 0 && seen.insert(s.number).second);
    std::vector<ListedId> ids;
    const ListingStatus us = parseUidl(in, ids);
    check(us != ListingStatus::Empty || ids.empty());
    seen.clear();
    for (const ListedId& l : ids) {
        check(l.number > 0 && seen.insert(l.number).second);
        check(l.id.find_first_of("\r\n") == std::string_view::npos);
        const std::string kept = normaliseUidl(l.id);
        check(kept.size() <= kMaxUidl && (kept.empty() || plain(kept)));
        check(kept.empty() == l.id.empty());
        check(kept == normaliseUidl(l.id));
        if (plain(l.id)) check(kept == l.id);
    }
    return 0;
}
