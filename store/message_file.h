// Stored message files: MailData\<tab>\NNNN.txt, each a 50-byte status line followed by the
// message text (header lines, blank line, body; CR LF line ends). The status line carries the
// message's state so that the index can be rebuilt from the files alone and a state change is one
// overwritten character:
//
//   offset 0  0x0C               offset 12 " dt="
//          1  " st="                    16 ten digits YYMMDDhhmm, local time of storing
//          5  direction digit           26 " rd=" (received) or " at=" (written here)
//          7  state digit               30 value, blank-padded to 18 bytes
//          9  mark digit                48 CR LF
//         11  colour digit (hex)
//
// Outgoing messages keep attachment copies in 添付\NNNN\ beside their file; the folder follows its
// message when the message is moved, copied or deleted.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/records.h"
#include "platform/env.h"

namespace kolvy::store {

// File numbers have four digits: NNNN.txt.
inline constexpr int kFileNumberLimit = 10000;
constexpr bool validFileNumber(int64_t n) {
    return n >= 0 && n < kFileNumberLimit;
}

// "NNNN.txt"; empty for a number outside 0..9999, which has no file name (10000 would otherwise
// come out as "0000.txt" and overwrite the first message).
std::string messageFileName(int number);
std::string numberDigits(int number);  // "0042"; empty when out of range
// Empty when the number is out of range.
std::string messagePath(const Env& env, const Tab& tab, int number);
std::string attachmentFolder(std::string_view tabFolder, int number);

// ----------------------------------------------------------------------------- status line
inline constexpr size_t kStatusLineSize = 50;
inline constexpr size_t kStatusValueSize = 18;
inline constexpr char kNewOutgoingStatusLine[] =
    "\f st=1.0.0.0 dt=0000000000 at=not               \r\n";
inline constexpr char kNoStamp[] = "0000000000";

struct StatusLine {
    uint8_t state = 0;       // the whole mail-state byte: 16 x direction + state nibble
    uint8_t markColour = 0;  // as in the index record
    std::string stamp = kNoStamp;
    bool received = true;  // " rd=" or " at="
    std::string value = "all";
};

// The 50 bytes with CR LF.
std::string formatStatusLine(const StatusLine& s);
// Reads the status line at the start of a message file; nullopt when the bytes are not one.
std::optional<StatusLine> parseStatusLine(std::string_view fileStart);

// One character each. The state digit is hexadecimal so that the forwarded states 10 and 11 keep
// their value ("A", "B"); every other state is its decimal digit.
char stateDigit(uint8_t state);
char markDigit(uint8_t markColour);    // "0", "1", "8", "9"
char colourDigit(uint8_t markColour);  // "0"-"F"
std::optional<uint8_t> hexDigitValue(char c);

// "dt" digits: local time of storing, two digits each of year (within its century), month, day,
// hour, minute.
std::string stampDigits(const platform::LocalTime& t);
// The digits taken as Japanese local time (UTC+9) in seconds since 1970; all zeros (or anything
// that is not ten digits of a date) gives 0.
uint32_t stampToSeconds(std::string_view digits);

// States whose message has attachments: received 1, 4, 7, 10; outgoing 1, 3, 5. A folder
// 添付\NNNN of a message in another state is an orphan.
bool stateHasAttachments(uint8_t state);

// In-place updates of one character at offset 5, 7, 9 or 11, or of the word at 30 ("have" or
// "not "). The file must begin with a status line; nothing is written otherwise.
enum class StatusChar : uint8_t { Direction = 5, State = 7, Mark = 9, Colour = 11 };
Err updateStatusChar(Env& env, std::string_view path, StatusChar which, char digit);
Err updateAttachmentWord(Env& env, std::string_view path, bool have);

// ----------------------------------------------------------------------------- shared routines
// The file and memory routines every writer uses. Each reports its own failure with its fixed
// text (a box, or the communication log when unattended or with LogOut) and returns it.
inline constexpr char kAllocateFailed[] = "メモリ確保に失敗しました。 ";
// A stored message file that cannot be opened for reading.
inline constexpr char kMailFileUnopenable[] = "メールファイルが開けませんでした。    ";
inline constexpr char kWriteFailed[] =
    "ディスクにデータを書き込むことが出来ませんでした。    \n"
    "この作業を中断します。（ライトファイル関数）    ";
inline constexpr char kMoveFailed[] =
    "ディスクにデータを書き込むことが出来ませんでした。    \n"
    "この作業を中断します。（ムーブファイル関数）    ";
inline constexpr char kCopyFailed[] =
    "ディスクにデータを書き込むことが出来ませんでした。    \n"
    "この作業を中断します。（コピーファイル関数）    ";

// A zeroed block, or null after the failure was reported.
std::unique_ptr<char[]> allocateBlock(Env& env, size_t size);
Err writeData(Env& env, platform::File& file, std::string_view data);
Err moveFile(Env& env, std::string_view from, std::string_view to);
// Never over an existing file.
Err copyFile(Env& env, std::string_view from, std::string_view to);

// ----------------------------------------------------------------------------- files
inline constexpr char kCreateFailedBox[] =
    "メールファイルを作成できませんでした。受信メールを入れようとしているタブの目次情報が    \n"
    "壊れているようです。メニューの「操作」から「目次ファイルの作り直し」を行ってください。    ";
inline constexpr char kCreateFailedLog[] =
    "メールファイルを作成できませんでした。受信メールを入れようとしているタブの目次情報が"
    "壊れているようです。\r\nメニューの「操作」から「目次ファイルの作り直し」を行ってください。";

// Creates the file as new (a file already there means the index and the folder disagree: Exists):
// writes NNNN.tmp in the tab folder, flushes it (unless a batch commit will), closes it and renames
// it to NNNN.txt, so that a kill never leaves half a message under the real name. A write failure
// is reported and the temporary file removed. Before the file is made, a leftover 添付\NNNN of an
// earlier message with that number is set aside. `reported` is set when the failure was a write
// failure that has been reported already.
Err createMessageFile(Env& env, std::string_view tabFolder, int number, std::string_view data,
                      bool* reported = nullptr, bool flush = true);
// The temporary name a message file is written under: NNNN.tmp.
std::string temporaryFileName(int number);

// An attachment folder 添付\NNNN found where a new message NNNN is about to arrive belongs to an
// earlier message of that number: it is renamed to the first free 添付\NNNN_k so that it never
// becomes the new message's attachments. Nothing is deleted.
Err setAsideStaleAttachments(Env& env, std::string_view tabFolder, int number);

// Copies message `number` of one tab folder to `newNumber` of another (never over a file).
Err copyMessageFile(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber);
// Moves message `number` of one tab folder to `newNumber` of another in one rename (never over a
// file): at every moment the message is in exactly one of the two folders.
Err moveMessageFile(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber);
// The attachment folder follows its message: moved, or copied file by file. Nothing to do when
// the message has none.
Err moveAttachments(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber);
Err copyAttachments(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber);
// Deletes the files of a folder and the folder (files only: a folder inside stays, and so does
// the folder holding it).
Err removeFolderFiles(Env& env, std::string_view folder);
// Deletes a message file and its attachment folder.
Err deleteMessage(Env& env, std::string_view tabFolder, int number);

}  // namespace kolvy::store
