// Template files: the user's starting texts for new messages, replies, forwards and signatures.
// A file is a run of entries, each 0x0C, the name, CR LF, the header part, CR LF, 0x01, the body
// part, CR LF; nothing follows the last entry.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace kolvy::compose {

enum TemplateKind : int {
    kNewTemplate = 0,
    kReplyTemplate = 1,
    kForwardTemplate = 2,
    kSignTemplate = 3
};
inline constexpr int kTemplateKinds = 4;
inline constexpr size_t kTemplateNameMax = 127;
inline constexpr char kBasicTemplateName[] = "基本";
inline constexpr char kNewEntryName[] = "新規作成";
inline constexpr char kTemplateFileUnopenable[] = "%s  \n\nが開けませんでした。";
inline constexpr char kTemplateNameMissing[] =
    "登録名:を記入してください。    \n「新規作成」および、重複した名前は使えません。    ";
inline constexpr char kTemplateNameTaken[] = "既に同じ登録名があります。    ";

struct Template {
    std::string name;
    std::string header;  // without trailing line ends
    std::string body;
    bool operator==(const Template&) const = default;
};

std::string_view templateFileName(int kind);
// The one template "基本" a kind has before the user saved any.
Template defaultTemplate(int kind);

// Parses a file's bytes; a text whose first byte is not 0x0C holds no template.
std::vector<Template> parseTemplates(std::string_view file);
// The bytes of a file holding `list`. Names lose CR, LF, 0x0C and 0x01 (they would end the name
// early) and header parts lose 0x01; a body's 0x0C becomes a blank, since it would start a new
// entry on reading.
std::string formatTemplates(const std::vector<Template>& list);

// The kind's templates from the program folder; the default template when the file is missing,
// unreadable or holds none.
std::vector<Template> loadTemplates(Env& env, int kind);
// Rewrites the kind's file (temporary file, flush, replace); a failure is reported.
Err saveTemplates(Env& env, int kind, const std::vector<Template>& list);

// The template editor's naming rule: the text to show, or nullopt when `name` may be used for
// the template at `index` (-1: a new one).
std::optional<std::string_view> checkTemplateName(const std::vector<Template>& list,
                                                  std::string_view name, int index);

// The template of `list` named `name`; the first when none is (or the name is empty).
const Template* findTemplate(const std::vector<Template>& list, std::string_view name);

}  // namespace kolvy::compose
