#include "compose/check.h"

#include <array>
#include <span>
#include <vector>

#include "core/sjis.h"

namespace kolvy::compose {

namespace {

enum Counted {
    kFrom,
    kTo,
    kCc,
    kBcc,
    kSubject,
    kSender,
    kReplyTo,
    kReferences,
    kDate,
    kMessageId,
    kMailer,
    kInReplyTo,
    kResentFrom,
    kResentTo,
    kCountedTotal
};
constexpr std::array<std::string_view, kCountedTotal> kNames = {
    "From:",     "To:",          "Cc:",          "Bcc:",      "Subject:",
    "Sender:",   "Reply-To:",    "References:",  "Date:",     "Message-ID:",
    "X-Mailer:", "In-Reply-To:", "Resent-From:", "Resent-To:"};

bool draftMode(CheckMode m) {
    return m != CheckMode::Template && m != CheckMode::NewTemplate;
}

std::string format(std::string_view pattern, std::string_view value) {
    std::string s(pattern);
    s.replace(s.find("%s"), 2, value);
    return s;
}

struct Line {
    int counted = -1;        // index into kNames, or -1
    std::string_view value;  // the value with its continuation lines
};

}  // namespace

std::string_view noAddressName(NoAddress which) {
    switch (which) {
        case NoAddress::From:
            return "From:";
        case NoAddress::To:
            return "To:";
        case NoAddress::Cc:
            return "Cc:";
        case NoAddress::Bcc:
            return "Bcc:";
        case NoAddress::ResentTo:
            return "Resent-To:";
        default:
            return {};
    }
}

std::string_view headerBlock(std::string_view text) {
    for (size_t i = 0; i + 2 < text.size(); ++i)
        if (text[i] == '\n' && text[i + 2] == '\n') return text.substr(0, i + 1);
    return text;
}

namespace {

// What the header lines hold: counts of the counted headers, an unknown header, headers
// without an address, several From addresses, the Resent-From value.
struct Scan {
    std::array<int, kCountedTotal> count{};
    bool unknown = false, severalFrom = false;
    NoAddress noAddress = NoAddress::None;
    std::string resentFrom;
};

Scan scanHeader(std::string_view header, CheckMode mode) {
    Scan out;
    auto& count = out.count;
    bool& unknown = out.unknown;
    bool& severalFrom = out.severalFrom;
    NoAddress& noAddress = out.noAddress;
    std::vector<Line> lines;
    const bool resend = mode == CheckMode::ResendDraft;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find('\n', pos);
        end = end == std::string_view::npos ? header.size() : end + 1;
        std::string_view line = header.substr(pos, end - pos);
        pos = end;
        if ((line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
            Line& last = lines.back();
            last.value = std::string_view(
                last.value.data(),
                static_cast<size_t>(line.data() + line.size() - last.value.data()));
            continue;
        }
        Line l;
        for (int k = 0; k < kCountedTotal; ++k) {
            if (line.substr(0, kNames[k].size()) == kNames[k]) {
                l.counted = k;
                l.value = line.substr(kNames[k].size());
                break;
            }
        }
        if (l.counted < 0) {
            const bool blank = line.find_first_not_of(" \t\r\n") == std::string_view::npos;
            const bool xHeader = line.substr(0, 2) == "X-";
            const bool replyExtra = mode == CheckMode::ReplyDraft &&
                                    (line.substr(0, 3) == "Ref" || line.substr(0, 1) == "I");
            if (!blank && !xHeader && !replyExtra) unknown = true;
        }
        lines.push_back(l);
    }
    for (const Line& l : lines) {
        if (l.counted < 0) continue;
        ++count[l.counted];
        if (l.counted == kResentFrom && count[kResentFrom] == 1) {
            std::string_view v = l.value;
            const size_t cr = v.find('\r');
            if (cr != std::string_view::npos) v = v.substr(0, cr);
            out.resentFrom = v;
        }
        if (!draftMode(mode)) continue;
        static constexpr std::pair<int, NoAddress> addressed[] = {{kFrom, NoAddress::From},
                                                                  {kTo, NoAddress::To},
                                                                  {kCc, NoAddress::Cc},
                                                                  {kBcc, NoAddress::Bcc},
                                                                  {kResentTo, NoAddress::ResentTo}};
        for (const auto& [k, which] : addressed) {
            if (l.counted != k || (resend && k != kResentTo)) continue;
            const size_t at = sjis::find(l.value, '@');
            if (at == std::string_view::npos) {
                if (noAddress == NoAddress::None || which == NoAddress::From) noAddress = which;
            } else if (k == kFrom && sjis::find(l.value, ',', at) != std::string_view::npos) {
                severalFrom = true;
            }
        }
    }
    return out;
}

}  // namespace

HeaderCheck checkHeader(std::string_view text, CheckMode mode) {
    const Scan scan = scanHeader(headerBlock(text), mode);
    const std::string_view header = headerBlock(text);
    const auto& count = scan.count;
    const bool resend = mode == CheckMode::ResendDraft;
    HeaderCheck out;
    out.resentFrom = scan.resentFrom;
    // Required headers: a forward sent unchanged needs its new recipient, the others the three.
    const std::array<int, 3> required = {kFrom, kTo, kSubject};
    const std::array<int, 1> requiredResend = {kResentTo};
    std::span<const int> must =
        resend ? std::span<const int>(requiredResend) : std::span<const int>(required);
    for (int k : must) {
        if (count[k] == 0) {
            out.message = format(draftMode(mode) ? kMissingDraft : kMissingTemplate, kNames[k]);
            return out;
        }
    }
    const bool skipGenerated = mode == CheckMode::EditedDraft || resend;
    if (!skipGenerated) {
        bool generated = count[kMessageId] || count[kMailer];
        if (!draftMode(mode)) generated |= count[kDate] || count[kReferences] || count[kInReplyTo];
        if (mode == CheckMode::Draft) generated |= count[kReferences] || count[kInReplyTo];
        if (generated) {
            out.message = kAutomaticHeaders;
            return out;
        }
        if (scan.unknown) {
            out.message = kUnknownHeader;
            return out;
        }
    }
    if (mode == CheckMode::NewTemplate) {
        for (size_t i = sjis::find(header, '$'); i != std::string_view::npos;
             i = sjis::find(header, '$', i + 1)) {
            if (header.compare(i, 11, "$AcountPain") != 0) {
                out.message = kNewTemplateVariables;
                return out;
            }
        }
    }
    for (int k = 0; k < kCountedTotal; ++k) {
        if (resend && k != kResentFrom && k != kResentTo) continue;
        if (count[k] > 1) {
            out.message = kDuplicateHeaders;
            return out;
        }
    }
    if (scan.severalFrom) {
        out.message = kSeveralFromAddresses;
        return out;
    }
    out.noAddress = scan.noAddress;
    return out;
}

}  // namespace kolvy::compose
