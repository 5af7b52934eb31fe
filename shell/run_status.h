// What the status area shows during a run: written by the run's observer on the worker thread,
// drawn by the window on the main thread (under the lock).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace kolvy::shell {

inline constexpr int kStatusStates = 30;
// The state field's text of a state (0..29); the counted states carry their numbers.
std::string statusText(int state, int current, int total, int received);

struct RunStatus {
    std::mutex lock;
    std::string account;      // the account field: the name
    bool unattended = false;  // four blanks before the name, icon 6
    int state = -1;           // -1: nothing shown
    int stepIcon = -1;        // the state field's icon: 0 dialling .. 7 aborting, -1 none
    int current = 0, total = 0, received = 0;
    // The progress field.
    int percent = 0;
    int64_t bytesExpected = 0, bytesLeft = 0;
    bool analysing = false;  // "データ処理中"
    bool blocking = false;   // "回線がビジーです"

    // Both fields' texts as drawn: the account with its blanks, the state's text.
    std::string accountText();
    std::string stateText();
};

// The one status of the process.
RunStatus& runStatus();

}  // namespace kolvy::shell
