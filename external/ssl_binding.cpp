#include "external/ssl_binding.h"

#include <mutex>

#include "report/logs.h"
#include "report/report.h"

namespace kolvy::external {

namespace {

template <class Fn>
bool lookUp(SymbolSource& source, Env& env, const char* name, Fn& slot) {
    if (slot) return true;
    slot = reinterpret_cast<Fn>(source.find(name));
    if (slot) return true;
    report::report(env, std::string(name) + "関数が呼び出せません。   ",
                   std::string(name) + "関数が呼び出せません。");
    return false;
}

}  // namespace

int SslBinder::bind(Env& env) {
    if (!loaded_) {
        loaded_ = source_->load();
        if (!loaded_) {
            report::report(env, "Zorvan2.dllが読み込めません。   ",
                           "Zorvan2.dllが読み込めません。");
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
