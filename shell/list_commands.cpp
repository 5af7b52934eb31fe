#include "shell/list_commands.h"

#include <charconv>
#include <unordered_set>

#include "compose/check.h"
#include "core/list.h"
#include "core/sjis.h"
#include "shell/command_ids.h"
#include "store/index.h"
#include "store/paths.h"

namespace kolvy::shell {
namespace {

constexpr uint8_t kOutgoing = 16;
constexpr uint8_t kSent = 20;

// The status line ends at the first LF; the header follows.
std::string_view afterStatusLine(std::string_view head) {
    if (head.empty() || head[0] != '\x0C') return head;
    const size_t lf = head.find('\n');
    return lf == std::string_view::npos ? std::string_view() : head.substr(lf + 1);
}

// Characters an address can hold before its parameters.
bool addressChar(unsigned char c) {
    if (c <= ' ' || c >= 0x7F) return false;
    return std::string_view("<>()[]\\,;:\"").find(static_cast<char>(c)) == std::string_view::npos;
}

// The end of the value or recipient starting at `at`: the next "?" or "&" outside a double-byte
// character.
size_t valueEnd(std::string_view s, size_t at) {
    while (at < s.size()) {
        const auto c = static_cast<unsigned char>(s[at]);
        if (c == '?' || c == '&') return at;
        at += sjis::isLead(c) && at + 1 < s.size() ? 2 : 1;
    }
    return at;
}

// A value with its few escapes undone; double-byte characters are taken as they stand.
std::string unescape(std::string_view v) {
    static constexpr std::pair<std::string_view, char> kEscapes[] = {
        {"%20", ' '}, {"%25", '%'}, {"%26", '&'}, {"%2C", ','},
        {"%2c", ','}, {"%3F", '?'}, {"%3f", '?'},
    };
    std::string out;
    for (size_t i = 0; i < v.size();) {
        const auto c = static_cast<unsigned char>(v[i]);
        if (sjis::isLead(c) && i + 1 < v.size()) {
            out.append(v.substr(i, 2));
            i += 2;
            continue;
        }
        bool escaped = false;
        for (const auto& [code, ch] : kEscapes) {
            if (v.substr(i, 3) == code) {
                out += ch;
                i += 3;
                escaped = true;
                break;
            }
        }
        if (!escaped) out += v[i++];
    }
    return out;
}

// Skips one separator: "?", "&", or "&amp;".
size_t afterSeparator(std::string_view s, size_t at) {
    if (at >= s.size()) return at;
    if (s[at] == '&' && s.substr(at + 1, 4) == "amp;") return at + 5;
    return at + 1;
}

}  // namespace

MailtoRequest parseMailto(std::string_view text) {
    MailtoRequest m;
    size_t at = valueEnd(text, 0);
    const std::string_view first = text.substr(0, at);
    size_t n = 0;
    while (n < first.size() && addressChar(static_cast<unsigned char>(first[n])))
        ++n;
    if (first.substr(0, n).find('@') != std::string_view::npos) m.to = first.substr(0, n);
    static constexpr std::pair<std::string_view, int> kNames[] = {
        {"to=", 0}, {"cc=", 1}, {"subject=", 2}, {"body=", 3}};
    while (at < text.size()) {
        at = afterSeparator(text, at);
        const size_t end = valueEnd(text, at);
        const std::string_view param = text.substr(at, end - at);
        for (const auto& [name, which] : kNames) {
            if (param.size() < name.size() ||
                !sjis::equalsNoCaseAscii(param.substr(0, name.size()), name))
                continue;
            std::string value = unescape(param.substr(name.size()));
            std::string* fields[] = {&m.to, &m.cc, &m.subject, &m.body};
            *fields[which] = std::move(value);
            break;
        }
        at = end;
    }
    return m;
}

std::string preparedDraft(const MailtoRequest& m, std::string_view fromName,
                          std::string_view fromAddress) {
    std::string s = "To: <" + m.to + ">\r\nFrom: ";
    s += fromName;
    s += " <";
    s += fromAddress;
    s += ">\r\nSubject: " + m.subject + "\r\n";
    if (!m.cc.empty()) s += "Cc: " + m.cc + "\r\n";
    s += "\r\n" + m.body + "\r\n";
    return s;
}

std::optional<ListCommand> listCommandOf(int id) {
    using K = ListCommand::Kind;
    switch (id) {
        case cmd::kMoveToTab:
            return ListCommand{K::Pass, 0};
        case cmd::kCopyToTab:
            return ListCommand{K::Pass, 1};
        case cmd::kDelete:
            return ListCommand{K::Pass, 2};
        case cmd::kDeleteCompletely:
            return ListCommand{K::Pass, 3};
        case cmd::kEmptyTrash:
            return ListCommand{K::EmptyTrash, 5};
        case cmd::kMakeDraft:
            return ListCommand{K::Attribute, store::kOpDraft};
        case cmd::kMakeWaiting:
            return ListCommand{K::Attribute, store::kOpWaiting};
        case cmd::kColourNone:
            return ListCommand{K::Attribute, store::kOpNoColour};
        default:
            break;
    }
    if (id >= cmd::kMarkUnread && id <= cmd::kToggleMark)
        return ListCommand{K::Attribute, id - cmd::kMarkUnread};
    if (id >= cmd::kColourFirst && id <= cmd::kColourLast)
        return ListCommand{K::Attribute, store::kOpFirstColour + (id - cmd::kColourFirst)};
    return std::nullopt;
}

std::optional<int> rowNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    int n = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 0 || n > 9999)
        return std::nullopt;
    return n;
}

std::vector<MailItem*> itemsWithNumbers(Tab& tab, std::span<const int> numbers) {
    std::unordered_set<int> wanted(numbers.begin(), numbers.end());
    std::vector<MailItem*> out;
    for (MailItem* m : listRange(tab.items)) {
        if (wanted.erase(store::itemNumber(*m)) > 0) out.push_back(m);
    }
    return out;
}

std::vector<Tab*> tabChoices(store::TabRegistry& tabs, const Tab& source) {
    std::vector<Tab*> out;
    for (Tab* t = tabs.first(); t; t = t->next) {
        if (t != &source) out.push_back(t);
    }
    return out;
}

std::string tabChoiceText(const Tab& tab) {
    static constexpr const char* kKinds[] = {"（受信）", "（送信）", "（ゴミ箱）"};
    std::string s = store::tabName(tab);
    if (tab.kind >= 0 && tab.kind <= 2) s += kKinds[tab.kind];
    return s;
}

std::optional<store::DraftFault> waitingDraftFault(std::string_view head) {
    const std::string_view header = afterStatusLine(head);
    // A stored draft carries the headers the composer set (Date:, In-Reply-To:): it is checked
    // as a draft edited again.
    const compose::HeaderCheck check =
        compose::checkHeader(header, compose::CheckMode::EditedDraft);
    if (!check.ok()) {
        // The missing-header texts start with the header's name.
        for (std::string_view name : {"From:", "To:", "Subject:"}) {
            const std::string lead = std::string(name) + " ";
            if (check.message.starts_with(lead))
                return store::DraftFault{std::string(name), check.message.substr(lead.size())};
        }
        return store::DraftFault{"ヘッダ", check.message};
    }
    if (check.noAddress != compose::NoAddress::None) {
        return store::DraftFault{std::string(compose::noAddressName(check.noAddress)),
                                 "ヘッダが空欄か、無効のため送信待ちにできません"};
    }
    return std::nullopt;
}

OpenWith openWith(const Tab& tab, const MailItem& item, std::string_view viewer) {
    if (tab.kind != store::kTrashTab && item.state >= kOutgoing && item.state < kSent)
        return OpenWith::Editor;
    return viewer.empty() ? OpenWith::Associated : OpenWith::Viewer;
}

std::string viewerCommandLine(std::string_view viewer, std::string_view path,
                              const MailItem& item) {
    std::string s(viewer);
    s += ' ';
    s += path;
    s += item.state >= kOutgoing ? ",1" : ",0";
    return s;
}

}  // namespace kolvy::shell
