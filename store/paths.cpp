#include "store/paths.h"

#include "core/sjis.h"

namespace kolvy::store {

std::string dataFolder(const Env& env) {
    return env.path(kDataFolder);
}

std::string tabFolder(const Env& env, const Tab& tab) {
    if (tab.external) return std::string(sjis::fieldView(tab.folder));
    return sjis::joinPath(dataFolder(env), sjis::fieldView(tab.name));
}

std::string indexPath(const Env& env, const Tab& tab) {
    return sjis::joinPath(tabFolder(env, tab), kIndexFileName);
}

std::string tabName(const Tab& tab) {
    return std::string(sjis::fieldView(tab.name));
}

std::string relativeToProgram(const Env& env, std::string_view path) {
    const std::string& root = env.programFolder;
    if (path.size() > root.size() + 1 && path.substr(0, root.size()) == root &&
        path[root.size()] == '\\') {
        return std::string(path.substr(root.size() + 1));
    }
    return std::string(path);
}

}  // namespace kolvy::store
