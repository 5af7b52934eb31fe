// The SSL functions of "Zorvan2.dll": loaded once, at the first SSL connection, each function
// looked up once and kept for the life of the process.
#pragma once

#include <memory>
#include <string>

#include "external/zorvan2/zorvan2.h"
#include "platform/env.h"

namespace kolvy::external {

struct SslFunctions {
    ZvHandShakeFn handShake = nullptr;
    ZvShutdownFn shutdown = nullptr;
    ZvReadFn read = nullptr;
    ZvWriteFn write = nullptr;
    bool complete() const { return handShake && shutdown && read && write; }
};

inline constexpr char kSslLibraryName[] = "Zorvan2.dll";

// Where the functions come from: the DLL on Win32, the linked library natively.
class SymbolSource {
  public:
    virtual ~SymbolSource() = default;
    virtual bool load() = 0;  // true when the library is (now) loaded
    virtual void* find(const char* name) = 0;
};
std::unique_ptr<SymbolSource> makeSslSymbolSource(const char* libraryName = kSslLibraryName);

// One binding: the library and the functions found so far.
class SslBinder {
  public:
    explicit SslBinder(std::unique_ptr<SymbolSource> source) : source_(std::move(source)) {}
    // 0 = all four bound; 1 = failed, reported through env.
    int bind(Env& env);
    const SslFunctions& functions() const { return functions_; }

  private:
    std::unique_ptr<SymbolSource> source_;
    bool loaded_ = false;
    SslFunctions functions_;
};

// The process's binding. 0 ok, 1 failure (reported).
int BindSslFunctions(Env& env);
// The bound functions; complete() only after BindSslFunctions returned 0.
const SslFunctions& sslFunctions();

}  // namespace kolvy::external
