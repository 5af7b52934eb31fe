#include "external/ssl_binding.h"

#include <mutex>

#include "shell/logs.h"
#include "shell/report.h"

namespace kolvy::external {

void presentFailure(Env& env, std::string_view logText, std::string_view boxText) {
    if (env.unattended || env.logOut) shell::appendCommLog(env, logText);
    if (!env.unattended) {
        env.reporter.show(boxText, shell::kAppTitle, platform::Icon::Exclamation,
                          platform::Buttons::Ok);
    }
}

namespace {

template <class Fn>
bool lookUp(SymbolSource& source, Env& env, const char* name, Fn& slot) {
    if (slot) return true;
    slot = reinterpret_cast<Fn>(source.find(name));
    if (slot) return true;
    presentFailure(env, std::string(name) + "関数が呼び出せません。",
                   std::string(name) + "関数が呼び出せません。   ");
    return false;
}

}  // namespace

int SslBinder::bind(Env& env) {
    if (!loaded_) {
        loaded_ = source_->load();
        if (!loaded_) {
            presentFailure(env, "Zorvan2.dllが読み込めません。",
                           "Zorvan2.dllが読み込めません。   ");
            return 1;
        }
    }
    SymbolSource& s = *source_;
    if (!lookUp(s, env, "ZV_SSL_HandShake", functions_.handShake)) return 1;
    if (!lookUp(s, env, "ZV_SSL_Shutdown", functions_.shutdown)) return 1;
    if (!lookUp(s, env, "ZV_SSL_Read", functions_.read)) return 1;
    if (!lookUp(s, env, "ZV_SSL_Write", functions_.write)) return 1;
    return 0;
}

namespace {
std::mutex g_mutex;
SslBinder& processBinder() {
    static SslBinder binder(makeSslSymbolSource());
    return binder;
}
}  // namespace

int BindSslFunctions(Env& env) {
    std::lock_guard lock(g_mutex);
    return processBinder().bind(env);
}

const SslFunctions& sslFunctions() {
    std::lock_guard lock(g_mutex);
    return processBinder().functions();
}

}  // namespace kolvy::external
