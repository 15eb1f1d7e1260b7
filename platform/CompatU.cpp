// Functions that the toolchain's thread library imports by name although
// Windows 2000 or XP lacks them: an executable that imports them statically
// does not even start there. This unit is linked into every executable (it is
// an interface source of the platform library), and its definitions of the
// import pointers take the place of the system's, so the library reaches the
// system function through a lookup when it exists and a fallback when not.
#include <windows.h>

#include <atomic>

namespace {

template <typename T>
T Lookup(const char *name)
{
    return reinterpret_cast<T>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

// The tick count widened by counting the wraps of the 32-bit one. The
// thread library only measures waits with it, which never span 49 days
// unobserved.
ULONGLONG WINAPI TickCount64()
{
    using Fn = ULONGLONG(WINAPI *)();
    static const Fn real = Lookup<Fn>("GetTickCount64");
    if (real) return real();
    static std::atomic<ULONGLONG> last{0};
    ULONGLONG before = last.load();
    for (;;) {
        DWORD now = GetTickCount();
        ULONGLONG high = before & ~ULONGLONG(0xFFFFFFFF);
        ULONGLONG value = high | now;
        if (value < before) value += ULONGLONG(1) << 32;
        if (last.compare_exchange_weak(before, value)) return value;
    }
}

// Without vectored handlers (Windows 2000) the library only loses the
// names it gives its threads for debuggers.
PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler)
{
    using Fn = PVOID(WINAPI *)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    static const Fn real = Lookup<Fn>("AddVectoredExceptionHandler");
    return real ? real(first, handler) : nullptr;
}

ULONG WINAPI RemoveVectoredHandler(PVOID handle)
{
    using Fn = ULONG(WINAPI *)(PVOID);
    static const Fn real = Lookup<Fn>("RemoveVectoredExceptionHandler");
    return real && handle ? real(handle) : 0;
}

} // namespace

extern "C" {
ULONGLONG(WINAPI *TovuImpGetTickCount64)() __asm__("__imp__GetTickCount64@0") = TickCount64;
PVOID(WINAPI *TovuImpAddVectoredExceptionHandler)(ULONG, PVECTORED_EXCEPTION_HANDLER) __asm__(
    "__imp__AddVectoredExceptionHandler@8") = AddVectoredHandler;
ULONG(WINAPI *TovuImpRemoveVectoredExceptionHandler)(PVOID) __asm__("__imp__RemoveVectoredExceptionHandler@4") =
    RemoveVectoredHandler;
}
