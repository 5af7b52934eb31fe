// Saving the attachments of a stored received message: its part lines say where each part lies;
// each saveable part is decoded by its transfer encoding into a file of the destination folder
// (text parts without a name are stored decoded already and are written as they stand), and the
// "cid:" references of an HTML part are pointed at the saved files.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace kolvy::store {

inline constexpr char kNothingToExtract[] =
    "選択されたファイルに添付データ、あるいはHTMLメールのデータがありません。";
inline constexpr char kAttachmentsLost[] =
    "該当する添付ファイルが失われている可能性があります。   ";
inline constexpr char kNoSuchPart[] = "該当する添付データが見つかりません。   ";
// A saved file's full path stays below the platform's path limit (MAX_PATH with its NUL).
inline constexpr size_t kPathLimit = 259;
// A name from the sender is cut to this many bytes before the path limit is applied.
inline constexpr size_t kNameMax = 200;

struct AttachmentEntry {
    std::string name;       // file name, sanitised (Shift_JIS)
    std::string contentId;  // without "<" ">"
    bool html = false;
    size_t offset = 0;  // the LF before the part's header lines
};

// A name the sender chose, made safe to be a file name: no folder parts, no control bytes or
// characters a file name cannot hold, not "." or "..", no reserved device name, no trailing blank
// or dot; Shift_JIS-aware (a trail byte 0x5C is no separator). Empty input gives "attachment".
std::string sanitiseName(std::string_view name);

// The saveable parts of a stored message, from its part lines. Offsets that do not point right
// after a line break inside the file, or that do not grow, are dropped.
std::vector<AttachmentEntry> listAttachments(std::string_view storedText);

// The bytes of entry k as they are saved; an HTML part's "cid:" references point at `names`
// (the names the entries are saved under, by entry; the entries' own names when empty).
std::string partBytes(std::string_view storedText, const std::vector<AttachmentEntry>& entries,
                      size_t k, std::span<const std::string> names = {});

// Inside the tags of an HTML text, each "cid:" reference whose whole id is the Content-ID of an
// entry becomes that entry's saved name; a reference without such an entry loses its "cid:".
std::string rewriteInlineReferences(std::string_view html,
                                    const std::vector<AttachmentEntry>& entries,
                                    std::span<const std::string> names);

// Saves the parts numbered in `parts` (all when empty) into `destFolder` (made when missing).
// Each part gets a name of its own: free among the others of this extraction and, in any folder
// but the program's _Tmp, among the files already there ("name (2).ext"), so that no file of
// the user's is overwritten; names are shortened to what the path and the file system take,
// the extension kept. A part that cannot be written is reported and the others are still
// saved. Reports its own failures; the saved paths are added to `saved`.
Err extractAttachments(Env& env, std::string_view storedText, std::string_view destFolder,
                       std::span<const int> parts, std::vector<std::string>* saved = nullptr);

}  // namespace kolvy::store
