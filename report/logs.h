// The program's logs, all under the program folder:
//   _Log\通信ログYYMM.txt              error lines of unattended runs, opened per line
//   _Log\受信ログ\受信ログYYMM.txt     the receive conversation, open for the whole run
//   _Log\送信ログ\送信ログYYMM.txt     the send conversation, open for the whole run
//   ErrorLog2.txt                      damaged-index reports, one stamped line each
// A log that cannot be written never stops the work that wanted to write it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace kolvy::report {

// Appends one line. A text ending in byte 0x01 is written without that byte and without a line
// end (the caller continues the line); any other text gets CR LF unless it ends in LF.
void appendCommLog(Env& env, std::string_view text);

// Appends "YYMMDDhhmm: text" and LF to ErrorLog2.txt.
void appendErrorLog2(Env& env, std::string_view text);

enum class RunLogKind { Receive, Send };

// Path of this month's receive or send log (the crash detector reads the receive log).
std::string runLogPath(Env& env, RunLogKind kind);

// The log of one receive or send run. Opening rotates a log that has reached Option/LogSize to
// the first free "<name>_N.txt". When the file cannot be opened the failure is reported and the
// run goes on without a log: every write is then a no-op.
class RunLog {
  public:
    static RunLog open(Env& env, RunLogKind kind);
    RunLog() = default;
    bool isOpen() const { return file_ != nullptr; }
    // Writes the bytes as they are; on a write failure the log closes itself quietly.
    void write(std::string_view text);
    void close();

  private:
    std::unique_ptr<platform::File> file_;
};

inline constexpr char kRunLogOpenFailed[] =
    "ログファイルが開けません。前回送受信中にエラーで終了した可能性があります。   \n"
    "申し訳ありませんが、ウインドウズを再起動してください。  ";

}  // namespace kolvy::report
