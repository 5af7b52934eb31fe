// The program's exported functions live in the libraries of their subsystems; nothing in the
// program itself calls some of them, so this table makes the linker keep them for Kolvy.def.
#include "mime/decode.h"
#include "mime/header.h"
#include "pop/checker_bridge.h"
#include "pop/exports.h"
#include "shell/host_exports_win32.h"
#include "smtp/encode.h"

namespace {

[[gnu::used]] const void* const kExported[] = {
    reinterpret_cast<const void*>(&KVA_QuotedPrintableDecode),
    reinterpret_cast<const void*>(&KVA_Base64Decode),
    reinterpret_cast<const void*>(&MakeGMT),
    reinterpret_cast<const void*>(&GetHead),
    reinterpret_cast<const void*>(&KVA_CheckPassword),
    reinterpret_cast<const void*>(&KVA_GetAcountName),
    reinterpret_cast<const void*>(&AllMokujiRead),
    reinterpret_cast<const void*>(&TabStatus),
    reinterpret_cast<const void*>(&GetCurrentPath),
    reinterpret_cast<const void*>(&MIME_Encode),
    reinterpret_cast<const void*>(&SJisToJis),
    reinterpret_cast<const void*>(&KVA_Base64Encode),
    reinterpret_cast<const void*>(&KVA_Recieve),
};

}  // namespace
