// The platform layer: the only code that calls the operating system. Two backends implement it,
// Win32 (the product) and POSIX (the native test build). Paths are Shift_JIS byte strings with
// '\\' separators, exactly as the program writes them ("MailData\\受信\\添付\\0001"); the POSIX
// backend maps them to UTF-8 names. No call throws: failures come back as Err values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/timetext.h"

namespace kolvy::platform {

// ----------------------------------------------------------------------------- files
enum class OpenMode {
    Read,            // existing file, read only
    ReadWrite,       // existing file, read and write at any offset; never creates
    CreateNew,       // fails with Err::Exists when the file is there
    CreateTruncate,  // create or empty
    Append,          // open or create; every write goes to the end
};

class File {
  public:
    virtual ~File() = default;  // closes
    // Reads up to out.size() bytes at the current position; 0 at the end.
    virtual Result<size_t> read(std::span<char> out) = 0;
    virtual Result<size_t> readAt(uint64_t offset, std::span<char> out) = 0;
    // Writes all bytes (at the current position, or at the end in Append mode) or fails.
    virtual Err write(std::string_view data) = 0;
    virtual Err writeAt(uint64_t offset, std::string_view data) = 0;
    virtual Err seek(uint64_t offset) = 0;
    virtual Result<uint64_t> size() = 0;
    virtual Err truncate(uint64_t size) = 0;
    // Flushes the file buffers to the device (the durability point of every writer).
    virtual Err flush() = 0;
    // Closes now and reports the failure a destructor would have swallowed.
    virtual Err close() = 0;
};

struct DirEntry {
    std::string name;  // Shift_JIS, no path
    bool isDir = false;
    // A plain folder: a directory with no other attribute (not hidden, system or read-only).
    bool plainDir = false;
    uint64_t size = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual Result<std::unique_ptr<File>> open(std::string_view path, OpenMode mode) = 0;
    virtual bool exists(std::string_view path) = 0;
    virtual bool isDir(std::string_view path) = 0;
    virtual Result<uint64_t> fileSize(std::string_view path) = 0;
    // Moves a file or folder; fails with Err::Exists when `to` is there.
    virtual Err rename(std::string_view from, std::string_view to) = 0;
    // Moves a file over an existing one in one step (the old one is replaced, never lost).
    virtual Err replace(std::string_view from, std::string_view to) = 0;
    // The same without waiting until the move is on the disk.
    virtual Err replaceCached(std::string_view from, std::string_view to) {
        return replace(from, to);
    }
    virtual Err copy(std::string_view from, std::string_view to, bool failIfExists) = 0;
    virtual Err remove(std::string_view path) = 0;  // a file
    virtual Err makeDir(std::string_view path) = 0;
    virtual Err removeDir(std::string_view path) = 0;  // an empty folder
    // Entries of a folder, without "." and "..", in no particular order.
    virtual Result<std::vector<DirEntry>> list(std::string_view folder) = 0;
    // Makes the named files and the folder entries naming them durable: the commit point of a
    // batch of writes made without a flush. By default each file is opened and flushed.
    virtual Err syncFiles(std::span<const std::string> paths);
};

// The backend of this build.
std::unique_ptr<FileSystem> makeFileSystem();

// The file systems' limit on one name, in the units the platform counts: UTF-16 units on
// Windows, bytes of the UTF-8 form natively.
inline constexpr size_t kFileNameUnitsMax = 255;
// How many of those units `sjisName` (one name, no folder) takes; SIZE_MAX when it has no form
// on this platform.
size_t fileNameUnits(std::string_view sjisName);

// An exclusive lock on a file, held for the life of the object (and dropped by the system when
// the process ends, however it ends): LockFileEx on Windows, flock natively.
class FileLock {
  public:
    virtual ~FileLock() = default;
};
// Takes the lock on `path` (the file is created when missing and left in place). When another
// holder has it, tries again until `waitMs` have passed, then fails with Err::Access.
Result<std::unique_ptr<FileLock>> lockFile(std::string_view path, unsigned waitMs);

// ----------------------------------------------------------------------------- profile strings
// One ini file, read and written key by key as the platform's profile functions do: section and
// key names compare without regard to case, blanks around keys and values are trimmed, quotes
// around a value are stripped on reading, Shift_JIS bytes pass untouched, lines end in CR LF and
// a missing file is created by the first write.
class Profile {
  public:
    virtual ~Profile() = default;
    virtual std::optional<std::string> read(std::string_view section, std::string_view key) = 0;
    // Refuses (Err::Invalid) names and values holding CR, LF or NUL: they would corrupt the file.
    virtual Err write(std::string_view section, std::string_view key, std::string_view value) = 0;
    virtual std::vector<std::string> keys(std::string_view section) = 0;
    virtual std::vector<std::string> sections() = 0;
    virtual Err removeKey(std::string_view section, std::string_view key) = 0;
    virtual Err removeSection(std::string_view section) = 0;
    virtual const std::string& path() const = 0;
};

// The backend of this build, on the file at `path` (Shift_JIS).
std::unique_ptr<Profile> makeProfile(std::string path);
// The same reading and writing the file through `fs` natively, so that tests can make any step
// of an ini write fail. On Windows the profile functions write the file themselves.
std::unique_ptr<Profile> makeProfile(std::string path, FileSystem& fs);

// Typed access with the program's number forms: decimal, or hexadecimal after "0x" (colours are
// written "0x%x"); a sign is honoured, so negative counters survive a round trip.
std::string readString(Profile& p, std::string_view section, std::string_view key,
                       std::string_view def = {}, size_t maxBytes = 4095);
int64_t readInt(Profile& p, std::string_view section, std::string_view key, int64_t def);
Err writeInt(Profile& p, std::string_view section, std::string_view key, int64_t value);
Err writeHex(Profile& p, std::string_view section, std::string_view key, uint32_t value);
// Parses the program's number forms; nullopt when the text holds no number.
std::optional<int64_t> parseNumber(std::string_view text);

// ----------------------------------------------------------------------------- reporter
enum class Icon { Exclamation, Information, Question };
enum class Buttons {
    Ok,
    OkCancel,  // Cancel is the default button: a stray Enter must not confirm a deletion
};
enum class Answer { Ok, Cancel };

// A modal box over the main window (Win32) or a line on stderr (POSIX, where nobody can answer:
// questions get Cancel).
class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual Answer show(std::string_view text, std::string_view caption, Icon icon,
                        Buttons buttons) = 0;
};
std::unique_ptr<Reporter> makeReporter();

// ----------------------------------------------------------------------------- clock
using LocalTime = kolvy::LocalTime;

class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t now() = 0;  // seconds since 1970-01-01 UTC
    // Local time of a moment; false when the platform cannot convert it.
    virtual bool toLocal(int64_t seconds, LocalTime& out) = 0;
    LocalTime localNow() {
        LocalTime t;
        toLocal(now(), t);
        return t;
    }
};
Clock& systemClock();

// ----------------------------------------------------------------------------- text conversion
// UTF-8 <-> code page 932 through the platform's own tables (Win32: MultiByteToWideChar /
// WideCharToMultiByte with code page 932 named explicitly; POSIX: iconv CP932). Characters the
// target lacks, and malformed input, become the platform's default character "?".
// Worst cases: UTF-8 -> Shift_JIS never grows; Shift_JIS -> UTF-8 grows at most 3 times.
class TextCodec {
  public:
    virtual ~TextCodec() = default;
    // Writes into out; returns the byte count, or nullopt when out is too small or memory ran out.
    virtual std::optional<size_t> utf8ToSjis(std::string_view in, std::span<char> out) = 0;
    virtual std::optional<size_t> sjisToUtf8(std::string_view in, std::span<char> out) = 0;
};
TextCodec& textCodec();
std::optional<std::string> utf8ToSjis(std::string_view in);
std::optional<std::string> sjisToUtf8(std::string_view in);

// ----------------------------------------------------------------------------- process
// Full path (Shift_JIS) of the running executable.
std::string executablePath();
// A folder for scratch files of tests and tools (Shift_JIS, no trailing separator).
std::string tempFolder();
void sleepMs(unsigned ms);
// Code page of the platform's "ANSI" strings: 932 on a Japanese system.
unsigned activeCodePage();

// Posting to the main thread: workers never touch windows; they post a message that the main
// loop acts on after dispatch. Win32 posts a thread message; POSIX queues it for whoever drains.
struct ThreadMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};
class MainThread {
  public:
    virtual ~MainThread() = default;
    virtual bool post(ThreadMessage msg) = 0;
};
// The poster for the thread that calls this first (the main thread at start-up).
MainThread& mainThread();
// POSIX only: takes the messages posted so far (tests and console tools drain them).
std::vector<ThreadMessage> drainPosted();

}  // namespace kolvy::platform
