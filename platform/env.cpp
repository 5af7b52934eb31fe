#include "platform/env.h"

#include "core/sjis.h"

namespace kolvy {

std::string Env::path(std::string_view relative) const {
    return sjis::joinPath(programFolder, relative);
}

}  // namespace kolvy
