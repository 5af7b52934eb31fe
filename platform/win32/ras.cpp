// rasapi32 is loaded when first needed: a system without it (or Wine, whose service is a stub
// without entries) simply never dials.
#include <windows.h>
// windows.h first: ras.h needs its types.
#include <ras.h>
#include <raserror.h>

#include <string>

#include "platform/ras.h"

namespace kolvy::platform {
namespace {

using EnumEntries = DWORD(WINAPI*)(LPCSTR, LPCSTR, LPRASENTRYNAMEA, LPDWORD, LPDWORD);
using GetDialParams = DWORD(WINAPI*)(LPCSTR, LPRASDIALPARAMSA, LPBOOL);
using Dial = DWORD(WINAPI*)(LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA, DWORD, LPVOID,
                            LPHRASCONN);
using HangUp = DWORD(WINAPI*)(HRASCONN);
using ConnectStatus = DWORD(WINAPI*)(HRASCONN, LPRASCONNSTATUSA);

template <class F>
F entry(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

class SystemRas final : public Ras {
  public:
    SystemRas() {
        lib_ = LoadLibraryA("rasapi32.dll");
        if (!lib_) return;
        enum_ = entry<EnumEntries>(lib_, "RasEnumEntriesA");
        params_ = entry<GetDialParams>(lib_, "RasGetEntryDialParamsA");
        dial_ = entry<Dial>(lib_, "RasDialA");
        hangUp_ = entry<HangUp>(lib_, "RasHangUpA");
        status_ = entry<ConnectStatus>(lib_, "RasGetConnectStatusA");
    }
    ~SystemRas() override {
        if (lib_) FreeLibrary(lib_);
    }
    SystemRas(const SystemRas&) = delete;
    SystemRas& operator=(const SystemRas&) = delete;

    Params dialParams(std::string_view name) override {
        RASDIALPARAMSA p;
        if (!readParams(name, p)) return Params::Unavailable;
        return hasPassword_ ? Params::Ok : Params::NoPassword;
    }

    uint32_t dial(std::string_view name, uintptr_t& connection) override {
        connection = 0;
        RASDIALPARAMSA p;
        if (!dial_ || !hangUp_ || !readParams(name, p)) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
        HRASCONN handle = nullptr;
        const DWORD rc = dial_(nullptr, nullptr, &p, 0, nullptr, &handle);
        SecureZeroMemory(&p, sizeof p);
        if (rc != 0) {
            // A failed dial still holds its port until its own handle is hung up.
            if (handle) hangUpAndWait(handle);
            return rc;
        }
        connection = reinterpret_cast<uintptr_t>(handle);
        return 0;
    }

    void hangUp(uintptr_t connection) override {
        if (connection && hangUp_) hangUpAndWait(reinterpret_cast<HRASCONN>(connection));
    }

  private:
    bool hasEntries() {
        if (!enum_) return false;
        RASENTRYNAMEA names[1] = {};
        names[0].dwSize = sizeof names[0];
        DWORD bytes = sizeof names, count = 0;
        const DWORD rc = enum_(nullptr, nullptr, names, &bytes, &count);
        return (rc == 0 || rc == ERROR_BUFFER_TOO_SMALL) && count > 0;
    }

    bool readParams(std::string_view name, RASDIALPARAMSA& p) {
        if (!params_ || !hasEntries() || name.empty() || name.size() > RAS_MaxEntryName)
            return false;
        ZeroMemory(&p, sizeof p);
        p.dwSize = sizeof p;
        std::string(name).copy(p.szEntryName, name.size());
        BOOL password = FALSE;
        if (params_(nullptr, &p, &password) != 0) return false;
        hasPassword_ = password != FALSE;
        return true;
    }

    // The port is free only once the connection's status can no longer be read.
    void hangUpAndWait(HRASCONN handle) {
        hangUp_(handle);
        for (int i = 0; status_ && i < 30; ++i) {
            RASCONNSTATUSA s{};
            s.dwSize = sizeof s;
            if (status_(handle, &s) == ERROR_INVALID_HANDLE) break;
            Sleep(100);
        }
    }

    HMODULE lib_ = nullptr;
    EnumEntries enum_ = nullptr;
    GetDialParams params_ = nullptr;
    Dial dial_ = nullptr;
    HangUp hangUp_ = nullptr;
    ConnectStatus status_ = nullptr;
    bool hasPassword_ = false;
};

}  // namespace

std::unique_ptr<Ras> makeRas() {
    return std::make_unique<SystemRas>();
}

}  // namespace kolvy::platform
