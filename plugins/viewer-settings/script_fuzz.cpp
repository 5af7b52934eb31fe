// The view-script reader on arbitrary bytes: every text it keeps fits its field and ends at a
// character boundary, numbers stay in range, and what it read writes back to the same file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/sjis.h"
#include "plugins/viewer-settings/script_logic.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
template <size_t N>
void checkField(const char (&field)[N]) {
    const std::string_view v = kolvy::sjis::fieldView(field);
    check(v.size() < N);
    check(kolvy::sjis::boundaryAtOrBefore(v, v.size()) == v.size());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::viewer;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ViewScriptNode head{};
    check(parseScripts(text, head));
    for (ViewScriptNode* n = head.next; n; n = n->next) {
        checkField(n->address);
        check(n->viewBkColor <= 0xFFFFFF);
        for (ViewEffect* e = n->effects.next; e; e = e->next) {
            checkField(e->beginLine);
            checkField(e->endLine);
            checkField(e->highlight);
            check(e->fontSize >= 8 && e->fontSize <= 20);
            check(e->edgeType == 0 || e->edgeType == 1);
            check(e->textColor <= 0xFFFFFF && e->textBkColor <= 0xFFFFFF);
        }
    }
    const std::string once = formatScripts(head);
    ViewScriptNode again{};
    check(parseScripts(once, again));
    check(formatScripts(again) == once);
    freeScripts(head);
    freeScripts(again);
    return 0;
}
