#include "compose/templates.h"

#include <cstdio>

#include "platform/fileutil.h"
#include "report/report.h"

namespace kolvy::compose {

namespace {

constexpr char kEntryStart = 0x0C;
constexpr char kBodyStart = 0x01;

std::string_view trimLineEnds(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::string without(std::string_view s, std::string_view drop, char replacement = '\0') {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (drop.find(c) == std::string_view::npos) {
            out += c;
        } else if (replacement) {
            out += replacement;
        }
    }
    return out;
}

}  // namespace

std::string_view templateFileName(int kind) {
    switch (kind) {
        case kNewTemplate:
            return "Template_New.txt";
        case kReplyTemplate:
            return "Template_Reply.txt";
        case kForwardTemplate:
            return "Template_Forwoad.txt";
        default:
            return "Template_Sign.txt";
    }
}

Template defaultTemplate(int kind) {
    Template t{kBasicTemplateName, {}, {}};
    switch (kind) {
        case kNewTemplate:
            t.header = "From: $AcountPain\r\nTo: \r\nSubject: ";
            break;
        case kReplyTemplate:
            t.header = "From: $To\r\nTo: $ReplyTo\r\nSubject: Re: $Subject";
            t.body = "$FromNameさん\r\n\r\n$\">\"$Body";
            break;
        case kForwardTemplate:
            t.header = "From: $AcountPain\r\nTo: \r\nSubject: Fw: $Subject";
            t.body = "\r\n----これは転送メールです----\r\n\r\n$AllHeader\r\n\r\n$Body";
            break;
        default:
            t.body =
                "\r\n********************************\r\n$AcountPain\r\n"
                "********************************\r\n";
            break;
    }
    return t;
}

std::vector<Template> parseTemplates(std::string_view file) {
    std::vector<Template> list;
    if (file.empty() || file[0] != kEntryStart) return list;
    size_t pos = 1;
    while (pos <= file.size()) {
        Template t;
        size_t cr = file.find('\r', pos);
        if (cr == std::string_view::npos) cr = file.size();
        t.name = file.substr(pos, cr - pos);
        pos = cr;
        if (pos < file.size()) ++pos;
        if (pos < file.size() && file[pos] == '\n') ++pos;
        size_t mark = file.find(kBodyStart, pos);
        if (mark == std::string_view::npos) mark = file.size();
        t.header = trimLineEnds(file.substr(pos, mark - pos));
        pos = mark < file.size() ? mark + 1 : mark;
        size_t next = file.find(kEntryStart, pos);
        if (next == std::string_view::npos) next = file.size();
        std::string_view body = file.substr(pos, next - pos);
        // The saver's CR LF after the body.
        if (body.size() >= 2 && body.substr(body.size() - 2) == "\r\n") body.remove_suffix(2);
        t.body = body;
        list.push_back(std::move(t));
        if (next >= file.size()) break;
        pos = next + 1;
    }
    return list;
}

std::string formatTemplates(const std::vector<Template>& list) {
    std::string out;
    for (const Template& t : list) {
        out += kEntryStart;
        out += without(t.name, std::string_view("\r\n\f\x01", 4));
        out += "\r\n";
        out += without(trimLineEnds(t.header), std::string_view("\x01", 1));
        out += "\r\n";
        out += kBodyStart;
        out += without(t.body, "\f", ' ');
        out += "\r\n";
    }
    return out;
}

std::vector<Template> loadTemplates(Env& env, int kind) {
    auto text = platform::readWholeFile(env.fs, env.path(templateFileName(kind)), 64ull << 20);
    std::vector<Template> list;
    if (text) list = parseTemplates(*text);
    if (list.empty()) list.push_back(defaultTemplate(kind));
    return list;
}

Err saveTemplates(Env& env, int kind, const std::vector<Template>& list) {
    const std::string path = env.path(templateFileName(kind));
    const Err e = platform::replaceFileContents(env.fs, path, path + ".tmp", formatTemplates(list));
    if (e != Err::None) {
        std::string text(kTemplateFileUnopenable);
        text.replace(text.find("%s"), 2, path);
        report::report(env, text);
    }
    return e;
}

std::optional<std::string_view> checkTemplateName(const std::vector<Template>& list,
                                                  std::string_view name, int index) {
    if (name.empty() || name == kNewEntryName) return kTemplateNameMissing;
    for (size_t i = 0; i < list.size(); ++i) {
        if (static_cast<int>(i) != index && list[i].name == name) return kTemplateNameTaken;
    }
    return std::nullopt;
}

const Template* findTemplate(const std::vector<Template>& list, std::string_view name) {
    if (list.empty()) return nullptr;
    if (!name.empty()) {
        for (const Template& t : list)
            if (t.name == name) return &t;
    }
    return &list.front();
}

}  // namespace kolvy::compose
