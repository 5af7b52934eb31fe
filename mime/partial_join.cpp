#include "mime/partial_join.h"

#include <algorithm>
#include <map>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::mime {

namespace {

using ascii::startsNoCase;

// The header block of `text` starting at `from`: [from, end of the last line's CR LF), and where
// the body starts (after the blank line).
struct Block {
    size_t end = 0, body = 0;
};
Block headerBlock(std::string_view text, size_t from) {
    const size_t blank = text.find("\r\n\r\n", from == 0 ? 0 : from - 2);
    if (blank == std::string_view::npos) return {text.size(), text.size()};
    return {blank + 2, blank + 4};
}

// The fields of a header block, each with its continuation lines and its CR LF.
std::vector<std::string_view> fields(std::string_view block) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start < block.size()) {
        size_t e = start;
        for (;;) {
            const size_t lf = block.find('\n', e);
            e = lf == std::string_view::npos ? block.size() : lf + 1;
            if (e >= block.size() || (block[e] != ' ' && block[e] != '\t')) break;
        }
        out.push_back(block.substr(start, e - start));
        start = e;
    }
    return out;
}

// The fields RFC 2046 takes from the encapsulated message rather than the enclosing one.
bool fromInner(std::string_view field) {
    return startsNoCase(field, "Content-") || startsNoCase(field, "Subject:") ||
           startsNoCase(field, "Message-ID:") || startsNoCase(field, "Encrypted:") ||
           startsNoCase(field, "MIME-Version:");
}

// A stored body without the "." line its file ends with.
std::string_view withoutTerminator(std::string_view body) {
    if (body.size() >= 3 && body.substr(body.size() - 3) == ".\r\n" &&
        (body.size() == 3 || body[body.size() - 4] == '\n')) {
        body.remove_suffix(3);
    }
    return body;
}

int number(std::string_view v) {
    int n = 0;
    bool any = false;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        if (n > 100000) return -1;
        n = n * 10 + (c - '0');
        any = true;
    }
    return any ? n : -1;
}

}  // namespace

std::optional<PartialPiece> partialPieceOf(std::string_view text) {
    if (text.size() < store::kStatusLineSize) return std::nullopt;
    const std::string_view stored = text.substr(store::kStatusLineSize - 1);
    HeaderInfo h{};
    readStoredHeader(stored, h);
    if (!h.contentTypeStart) return std::nullopt;
    const std::string_view type(h.contentTypeStart,
                                static_cast<size_t>(h.contentTypeEnd - h.contentTypeStart));
    if (!sjis::equalsNoCaseAscii(type, "message/partial")) return std::nullopt;
    // The whole field, folds included, its parameters split at ";" outside double quotes.
    const size_t start = static_cast<size_t>(h.contentTypeEnd - stored.data());
    size_t end = start;
    for (;;) {
        const size_t lf = stored.find('\n', end);
        end = lf == std::string_view::npos ? stored.size() : lf + 1;
        if (end >= stored.size() || (stored[end] != ' ' && stored[end] != '\t')) break;
    }
    const std::string_view field = stored.substr(start, end - start);
    PartialPiece p;
    bool haveNumber = false, haveId = false;
    size_t i = 0;
    while (i < field.size()) {
        while (i < field.size() && (field[i] == ';' || field[i] == ' ' || field[i] == '\t' ||
                                    field[i] == '\r' || field[i] == '\n'))
            ++i;
        const size_t nameStart = i;
        while (i < field.size() && field[i] != '=' && field[i] != ';')
            ++i;
        std::string_view name = field.substr(nameStart, i - nameStart);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        if (i >= field.size() || field[i] != '=') continue;
        ++i;
        while (i < field.size() && (field[i] == ' ' || field[i] == '\t'))
            ++i;
        std::string value;
        if (i < field.size() && field[i] == '"') {
            for (++i; i < field.size() && field[i] != '"'; ++i) {
                if (field[i] == '\\' && i + 1 < field.size()) ++i;
                value += field[i];
            }
            if (i < field.size()) ++i;
        } else {
            while (i < field.size() && field[i] != ';' && field[i] != ' ' && field[i] != '\r' &&
                   field[i] != '\n')
                value += field[i++];
        }
        if (sjis::equalsNoCaseAscii(name, "id")) {
            p.id = std::string(sjis::truncate(value, kPartialIdMax));
            haveId = true;
        } else if (sjis::equalsNoCaseAscii(name, "number")) {
            p.pieceNumber = number(value);
            haveNumber = p.pieceNumber > 0;
        } else if (sjis::equalsNoCaseAscii(name, "total")) {
            p.total = std::max(0, number(value));
        }
    }
    if (!haveNumber || !haveId) return std::nullopt;
    return p;
}

std::string joinPieces(std::span<const std::string> pieces) {
    std::string out = "\n";
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string_view text = pieces[k];
        if (text.size() < store::kStatusLineSize) continue;
        const Block outer = headerBlock(text, store::kStatusLineSize);
        std::string_view body = text.substr(std::min(outer.body, text.size()));
        if (k == 0) {
            for (std::string_view f :
                 fields(text.substr(store::kStatusLineSize, outer.end - store::kStatusLineSize))) {
                if (!fromInner(f)) out += f;
            }
            const Block inner = headerBlock(body, 0);
            for (std::string_view f : fields(body.substr(0, inner.end))) {
                if (fromInner(f)) out += f;
            }
            body = body.substr(std::min(inner.end, body.size()));
        }
        out += withoutTerminator(body);
    }
    out += ".\r\n";
    return out;
}

JoinResult joinPartialMessages(AnalyzeContext& c, int from) {
    JoinResult result;
    Env& env = c.env;
    Tab* tab = c.tabs.basicTab(store::kReceiveTab);
    if (!tab) return result;
    // Groups in the order their ids were first met; pieces by number, the first of a duplicate
    // number kept (a piece fetched twice does not block its message).
    std::vector<std::string> order;
    std::map<std::string, std::map<int, PartialPiece>> groups;
    std::map<std::string, int> totals;
    const int last = tab->nextFileNo;
    for (int n = std::max(0, from - 1); n < last && n < store::kFileNumberLimit; ++n) {
        const std::string path = store::messagePath(env, *tab, n);
        if (!env.fs.exists(path)) continue;
        auto text = platform::readWholeFile(env.fs, path);
        if (!text) {
            result.failed = true;
            return result;
        }
        auto piece = partialPieceOf(*text);
        if (!piece) continue;
        piece->fileNumber = n;
        if (!groups.count(piece->id)) order.push_back(piece->id);
        auto& g = groups[piece->id];
        g.emplace(piece->pieceNumber, *piece);
        if (piece->total > 0) totals[piece->id] = piece->total;
    }
    for (const std::string& id : order) {
        const auto& g = groups[id];
        const int total = totals.count(id) ? totals[id] : 0;
        // Complete: numbers 1..n without a gap, and n the total when one was given.
        const int count = static_cast<int>(g.size());
        const bool complete =
            g.begin()->first == 1 && g.rbegin()->first == count && (total == 0 || total == count);
        if (!complete) {
            result.incomplete = true;
            continue;
        }
        std::vector<std::string> texts;
        std::vector<int> files;
        for (const auto& [num, piece] : g) {
            auto text =
                platform::readWholeFile(env.fs, store::messagePath(env, *tab, piece.fileNumber));
            if (!text) {
                result.failed = true;
                return result;
            }
            texts.push_back(std::move(*text));
            files.push_back(piece.fileNumber);
        }
        const std::string whole = joinPieces(texts);
        ServerEntry entry{};
        entry.size = static_cast<uint32_t>(std::min<size_t>(whole.size(), UINT32_MAX));
        const AnalyzeOutcome o = mailAnalyze(c, whole, entry, AnalyzeMode::Received);
        if (o.kind == AnalyzeOutcome::FailedStop) {
            result.failed = true;
            return result;
        }
        ++result.joined;
        result.groups.push_back(std::move(files));
    }
    return result;
}

}  // namespace kolvy::mime
