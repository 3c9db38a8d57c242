#include "platform/threadname.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <pthread.h>
#endif

namespace platform {

#ifdef _WIN32

void setThreadName(const char* name) {
    // Looked up at run time: older Windows lack it, and the program must still start there.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const SetDescription setDescription = [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        return kernel ? reinterpret_cast<SetDescription>(
                            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetThreadDescription")))
                      : nullptr;
    }();
    if (!setDescription) return;
    wchar_t wide[64];
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 64) == 0) return;
    setDescription(GetCurrentThread(), wide);
}

#else

void setThreadName(const char* name) {
    char cut[16] = {};
    for (int i = 0; i < 15 && name[i]; ++i)
        cut[i] = name[i];
    pthread_setname_np(pthread_self(), cut);
}

#endif

}  // namespace platform
