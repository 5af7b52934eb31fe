// Stand-ins for message analysis and the size rules in the session tests: they record what the
// session handed them and answer what the test scripts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "pop/session.h"

namespace kolvy::test {

class RecordingSink final : public pop::MessageSink {
  public:
    struct Stored {
        std::string text;
        int32_t number;
        uint32_t size;
        std::string uidl;
        bool asciiOnly;
    };
    void begin() override { ++begins; }
    pop::StoreOutcome store(std::string& text, const ServerEntry& entry, bool asciiOnly) override {
        pop::StoreOutcome out;
        if (decide) out = decide(text, entry);
        if (out.kind != pop::StoreOutcome::FailedStop) {
            stored.push_back({text, entry.number, entry.size,
                              std::string(sjis::fieldView(entry.uidl)), asciiOnly});
        }
        return out;
    }
    void end(int result) override {
        ++ends;
        lastResult = result;
    }
    // The stored texts without the leading LF and the ".\r\n" line: the messages as sent.
    std::vector<std::string> bodies() const {
        std::vector<std::string> v;
        for (const Stored& s : stored) {
            std::string t = s.text;
            if (!t.empty() && t.front() == '\n') t.erase(0, 1);
            if (t.size() >= 3 && t.compare(t.size() - 3, 3, ".\r\n") == 0) t.resize(t.size() - 3);
            v.push_back(t);
        }
        return v;
    }
    std::vector<std::string> uidls() const {
        std::vector<std::string> v;
        for (const Stored& s : stored)
            v.push_back(s.uidl);
        return v;
    }

    std::function<pop::StoreOutcome(const std::string&, const ServerEntry&)> decide;
    std::vector<Stored> stored;
    int begins = 0, ends = 0, lastResult = -1;
};

class ScriptedSizeRules final : public pop::SizeRules {
  public:
    pop::FetchAdvice advise(const ServerEntry& entry) override {
        asked.push_back(entry.number);
        return answer ? answer(entry) : pop::FetchAdvice{};
    }
    std::function<pop::FetchAdvice(const ServerEntry&)> answer;
    std::vector<int32_t> asked;
};

}  // namespace kolvy::test
