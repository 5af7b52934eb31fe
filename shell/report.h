// Telling the user about a failure, or asking before something cannot be undone.
//
// Attended: a modal box captioned with the application title. Unattended (timer, DDE, tray,
// console tool): no box; the one-line form of the text goes to the communication log instead.
// With Option/LogOut attended runs log too.
#pragma once

#include <string>
#include <string_view>

#include "core/env.h"

namespace kolvy::shell {

// The application title (string resource 40092): caption of every box, title of the main window.
inline constexpr char kAppTitle[] = "Kolvyメール";

void report(Env& env, std::string_view text, platform::Icon icon = platform::Icon::Exclamation);
// The same with a log line of its own, for texts whose one-line form differs from the box.
void report(Env& env, std::string_view text, std::string_view logLine, platform::Icon icon);
inline void notice(Env& env, std::string_view text) {
    report(env, text, platform::Icon::Information);
}
// OK/Cancel with Cancel as the default button. Unattended nobody can answer: Cancel.
platform::Answer ask(Env& env, std::string_view text,
                     platform::Icon icon = platform::Icon::Question);

// The text as one log line: the lines of a multi-line text joined, trailing blanks removed.
std::string oneLine(std::string_view text);

}  // namespace kolvy::shell
