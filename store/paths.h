// Where a tab's files lie: MailData\<tab name>\ for a registered tab, the chosen folder for an
// external folder tab; inside it mokuji.bin, NNNN.txt and 添付\NNNN\.
#pragma once

#include <string>
#include <string_view>

#include "core/records.h"
#include "platform/env.h"

namespace kolvy::store {

inline constexpr char kDataFolder[] = "MailData";
inline constexpr char kIndexFileName[] = "mokuji.bin";
inline constexpr char kAttachFolder[] = "添付";
inline constexpr char kTmpFolder[] = "_Tmp";
// Scratch image of an index while it is compacted.
inline constexpr char kCompactFileName[] = "Tmp.bin";

std::string dataFolder(const Env& env);
std::string tabFolder(const Env& env, const Tab& tab);
std::string indexPath(const Env& env, const Tab& tab);
std::string tabName(const Tab& tab);
// A path inside the program folder from the folder on ("MailData\\受信\\0001.txt"); a path
// elsewhere stays whole.
std::string relativeToProgram(const Env& env, std::string_view path);

}  // namespace kolvy::store
