// Helpers of the store tests: tabs on a temporary program folder, records and a rebuild stand-in.
#pragma once

#include <memory>
#include <string>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "store/index.h"
#include "store/paths.h"
#include "tests/support/failing_fs.h"
#include "tests/support/test_env.h"

namespace kolvy::store::testing {

using test::EnvOver;
using test::FailingFileSystem;

// A tab "受信" (id 0, receive) whose folder and bare index exist.
struct TabFixture {
    explicit TabFixture(test::TestEnv& t, std::string_view name = "受信") : env(t) {
        tab = std::make_unique<Tab>();
        tab->id = 0;
        tab->open = 1;
        sjis::copyField(tab->name, name);
        platform::makeDirs(*t.fs, folder());
        createIndexFile(t.env, folder());
    }
    ~TabFixture() { freeItems(*tab); }
    std::string folder() const { return tabFolder(env.env, *tab); }
    std::string index() const { return indexPath(env.env, *tab); }
    std::string bytes() const {
        auto d = platform::readWholeFile(*env.fs, index());
        return d ? *d : "<missing>";
    }
    void setBytes(std::string_view b) const { platform::writeWholeFile(*env.fs, index(), b); }
    test::TestEnv& env;
    std::unique_ptr<Tab> tab;
};

inline IndexRecord record(int n, uint8_t state = 0, std::string subject = {}) {
    IndexRecord r;
    r.fileNo = static_cast<uint16_t>(n);
    r.state = state;
    r.storedTime = 1110153900u + static_cast<uint32_t>(n) * 3600u;
    r.dateTime = r.storedTime - 60;
    r.size = 1000u + static_cast<uint32_t>(n);
    r.account = mail::kUnmatchedAccount;
    r.texts[0] = "差出人" + std::to_string(n);
    r.texts[1] = "user" + std::to_string(n) + "@example.jp";
    r.texts[2] = subject.empty() ? "件名" + std::to_string(n) : subject;
    r.texts[3] = "Mailer/1.0";
    r.texts[4] = "me@example.jp";
    return r;
}

// The index bytes: header and the records with their offsets filled in.
inline std::string indexImage(const std::vector<IndexRecord>& records) {
    std::string image = newIndexHeader();
    for (IndexRecord r : records) {
        r.offset = static_cast<uint32_t>(image.size());
        image += encodeRecord(r);
    }
    return image;
}

inline std::vector<int> itemNumbers(Tab& tab) {
    std::vector<int> out;
    for (MailItem* m : listRange(tab.items))
        out.push_back(itemNumber(*m));
    return out;
}

// Stands in for the rebuild: counts its calls and writes what it is told (nothing by default).
class FakeRebuilder final : public IndexRebuilder {
  public:
    bool rebuild(Env& env, Tab& tab, RebuildMode mode) override {
        ++calls;
        lastMode = mode;
        if (!writes) return false;
        platform::writeWholeFile(env.fs, indexPath(env, tab), image);
        return true;
    }
    int calls = 0;
    RebuildMode lastMode = RebuildMode::Command;
    bool writes = false;
    std::string image = newIndexHeader();
};

}  // namespace kolvy::store::testing
