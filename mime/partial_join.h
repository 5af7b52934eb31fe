// Joining split messages: the message/partial pieces stored in the basic receive tab are grouped
// by their id, checked for completeness, put back together as the sender had the message before
// splitting it, and the whole is stored through message analysis as a new message. The pieces
// stay.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mime/analyze.h"

namespace kolvy::mime {

inline constexpr size_t kPartialIdMax = 79;
inline constexpr char kJoinNotBasicTab[] =
    "分割メールの結合は、基本受信タブでしか行えません。これ以外のタブにある場合は    \n"
    "一旦基本受信タブにこれらのメールを移動させてこのコマンドを実行してください。    ";
inline constexpr char kJoinWhileReceiving[] = "受信中は「メールの結合」は出来ません。    ";
inline constexpr char kJoinMissingPieces[] = "欠けているため結合できない分割メールがあります。    ";

struct PartialPiece {
    int fileNumber = -1;
    int pieceNumber = 0;
    std::string id;
    int total = 0;  // 0: not given
};

// The piece a stored message is, read from its Content-Type parameters by name; nullopt when it
// is no message/partial. `storedText` is the whole stored file, status line first.
std::optional<PartialPiece> partialPieceOf(std::string_view storedText);

// The message the pieces (stored file texts, in piece order) were split from, as received: the
// first piece's header lines but its Content-*, Subject, Message-ID, Encrypted and MIME-Version,
// then those of the encapsulated header, then the bodies of all pieces exactly, each without the
// final "." line of its stored file. Ends with the "." line, starts with a LF.
std::string joinPieces(std::span<const std::string> storedPieces);

struct JoinResult {
    int joined = 0;                        // whole messages stored
    bool incomplete = false;               // a split message lacks pieces
    bool failed = false;                   // a file or store failure ended the join
    std::vector<std::vector<int>> groups;  // file numbers of the pieces of each joined message
};

// Joins every complete split message whose pieces lie in the basic receive tab from file number
// `from` - 1 on; the joined messages go through mailAnalyze (mode 0, rules apply).
JoinResult joinPartialMessages(AnalyzeContext& context, int from);

}  // namespace kolvy::mime
