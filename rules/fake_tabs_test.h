// Helpers for rule tests: a tab directory whose tabs are ids with names (their pointers stand for
// them and are never read through), and rules written as "name=value" words so that a table row
// stays one line.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>

#include "rules/rule_book.h"
#include "rules/rule_file.h"

namespace kolvy::rules {

class FakeTabs final : public TabDirectory {
  public:
    FakeTabs() {
        add(0, "受信");
        add(3, "仕事");
        add(5, "転送済み");
        add(12, "ソフト表");
    }
    void add(int32_t id, std::string name) { names_[id] = std::move(name); }
    void drop(int32_t id) { names_.erase(id); }
    Tab* tab(int32_t id) { return reinterpret_cast<Tab*>(&slots_[id]); }
    Tab* tabById(int32_t id) override {
        return id >= 0 && id <= kMaxTabId && names_.count(id) ? tab(id) : nullptr;
    }
    std::optional<int32_t> idOf(const Tab* t) override {
        const auto* p = reinterpret_cast<const char*>(t);
        if (p < slots_ || p >= slots_ + sizeof slots_) return std::nullopt;
        const auto id = static_cast<int32_t>(p - slots_);
        if (!names_.count(id)) return std::nullopt;
        return id;
    }
    std::string nameOf(const Tab* t) override {
        const auto id = idOf(t);
        return id ? names_[*id] : std::string("?");
    }

  private:
    std::map<int32_t, std::string> names_;
    char slots_[kMaxTabId + 1] = {};
};

namespace fields {
struct Field {
    std::string_view name;
    size_t offset, size;
    char kind;  // 'n' number, 't' tab, 's' text
};
template <class T>
constexpr char kindOf() {
    return std::is_same_v<T, int32_t> ? 'n' : std::is_pointer_v<T> ? 't' : 's';
}
// clang-format off
#define KOLVY_F(n) Field{#n, offsetof(Rule, n), sizeof(Rule::n), kindOf<decltype(Rule::n)>()}
inline const Field& field(std::string_view name) {
    static const Field all[] = {
        KOLVY_F(item1), KOLVY_F(keyword1), KOLVY_F(mode1), KOLVY_F(combination), KOLVY_F(item2),
        KOLVY_F(keyword2), KOLVY_F(mode2), KOLVY_F(sizeKB), KOLVY_F(markCond), KOLVY_F(colourCond),
        KOLVY_F(bodyChars), KOLVY_F(bodyCountsControl), KOLVY_F(noJapanese), KOLVY_F(unreadCond),
        KOLVY_F(readCond), KOLVY_F(olderThan), KOLVY_F(templateName), KOLVY_F(targetTab),
        KOLVY_F(moveOrCopy), KOLVY_F(setMark), KOLVY_F(deleteUnread), KOLVY_F(leaveOnServer),
        KOLVY_F(setColour), KOLVY_F(noDownload), KOLVY_F(split), KOLVY_F(setRead),
        KOLVY_F(replyTemplate), KOLVY_F(replyTab), KOLVY_F(forwardKind), KOLVY_F(forwardTab),
        KOLVY_F(forwardFrom), KOLVY_F(forwardTo), KOLVY_F(headLines), KOLVY_F(headLineCount),
        KOLVY_F(lastApplied), KOLVY_F(appliedCount)};
    // clang-format on
    for (const Field& f : all) {
        if (f.name == name) return f;
    }
    ADD_FAILURE() << "no rule field " << name;
    return all[0];
}
#undef KOLVY_F
// Calls `each(field, value)` for the "name=value" words of `spec`.
template <class F>
void forEach(std::string_view spec, F each) {
    while (!spec.empty()) {
        const size_t end = std::min(spec.find(' '), spec.size());
        const std::string_view word = spec.substr(0, end);
        spec.remove_prefix(std::min(end + 1, spec.size()));
        const size_t eq = word.find('=');
        if (!word.empty()) each(field(word.substr(0, eq)), word.substr(eq + 1));
    }
}
}  // namespace fields

// Sets the named fields; a tab field set to 1 points at a stand-in tab that is never read.
inline void setFields(Rule& r, std::string_view spec) {
    static char standIn;
    fields::forEach(spec, [&](const fields::Field& f, std::string_view v) {
        char* p = reinterpret_cast<char*>(&r) + f.offset;
        if (f.kind == 'n') {
            const auto n = static_cast<int32_t>(std::stol(std::string(v)));
            std::memcpy(p, &n, sizeof n);
        } else if (f.kind == 't') {
            Tab* const t = v == "0" ? nullptr : reinterpret_cast<Tab*>(&standIn);
            std::memcpy(p, &t, sizeof t);
        } else {
            const size_t n = std::min(v.size(), f.size - 1);
            std::memcpy(p, v.data(), n);
            p[n] = '\0';
        }
    });
}

// Rule file text with "|" standing for the field end.
inline std::string ruleLines(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c == '|') c = kFieldEnd;
    }
    return out;
}

// A cleared rule with the named fields set.
inline Rule ruleWith(std::string_view spec) {
    Rule r;
    clearRule(r);
    setFields(r, spec);
    return r;
}

// The named fields of `r` as "name=value" words in the order of `spec` (a tab: 1 set, 0 none), so
// that a row's expected fields compare as one string.
inline std::string fieldsOf(const Rule& r, std::string_view spec) {
    std::string out;
    fields::forEach(spec, [&](const fields::Field& f, std::string_view) {
        const char* p = reinterpret_cast<const char*>(&r) + f.offset;
        out += std::string(out.empty() ? "" : " ") + std::string(f.name) + "=";
        if (f.kind == 'n') {
            int32_t n;
            std::memcpy(&n, p, sizeof n);
            out += std::to_string(n);
        } else if (f.kind == 't') {
            Tab* t;
            std::memcpy(&t, p, sizeof t);
            out += t ? "1" : "0";
        } else {
            out += std::string(p, strnlen(p, f.size));
        }
    });
    return out;
}

}  // namespace kolvy::rules
