#include "rules/stored_message.h"

namespace kolvy::rules {

StoredParts splitStored(std::string_view text) {
    constexpr std::string_view kBlankLine = "\r\n\r\n";
    const size_t end = text.find(kBlankLine);
    if (end == std::string_view::npos) return {text, {}};
    return {text.substr(0, end), text.substr(end + kBlankLine.size())};
}

}  // namespace kolvy::rules
