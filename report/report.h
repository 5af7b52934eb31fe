// Telling the user about a failure, or asking before something cannot be undone.
//
// Attended: a modal box captioned with the application title. Unattended (timer, DDE, tray,
// console tool): no box; the one-line form of the text goes to the communication log instead.
// With Option/LogOut attended runs log too.
#pragma once

#include <string>
#include <string_view>

#include "platform/env.h"
#include "platform/retry.h"

namespace kolvy::report {

// The application title (string resource 40092): caption of every box, title of the main window.
inline constexpr char kAppTitle[] = "Kolvyメール";

// Whether failures of this unit of work go to the communication log: unattended, or LogOut.
inline bool logsFailures(const Env& env) {
    return env.unattended.load() || env.logOut.load();
}

// A run being aborted: nobody waits for a box any more, the line goes to the log.
enum class Abort { No, Yes };

void report(Env& env, std::string_view text, platform::Icon icon = platform::Icon::Exclamation);
// The same with a log line of its own, for texts whose one-line form differs from the box.
void report(Env& env, std::string_view text, std::string_view logLine,
            platform::Icon icon = platform::Icon::Exclamation, Abort abort = Abort::No);
// Only the log half: a repeat of a failure already shown once, or a line of a conversation.
void logFailure(Env& env, std::string_view logLine, Abort abort = Abort::No);
inline void notice(Env& env, std::string_view text) {
    report(env, text, platform::Icon::Information);
}
// How a retry of the file at `path` is logged (platform/retry.h): a communication-log line when
// failures are logged, so that a slow run can be explained afterwards.
platform::RetryNote retryNote(Env& env, std::string path);

// OK/Cancel with Cancel as the default button. Unattended nobody can answer: Cancel.
platform::Answer ask(Env& env, std::string_view text,
                     platform::Icon icon = platform::Icon::Question);

// The text as one log line: the lines of a multi-line text joined, trailing blanks removed.
std::string oneLine(std::string_view text);

}  // namespace kolvy::report
