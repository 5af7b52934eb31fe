// A tab directory for rule tests: tabs are ids with names, their pointers stand for them and are
// never read through.
#pragma once

#include <map>
#include <string>

#include "rules/rule_book.h"

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

}  // namespace kolvy::rules
