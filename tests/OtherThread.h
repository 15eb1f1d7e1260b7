#pragma once
// Runs a call on a thread of its own and waits for it: per-thread state (the
// registry view, redirection) must not leak from the calling thread.
#include <gtest/gtest.h>
#include <windows.h>

template <typename F>
DWORD WINAPI OtherThreadEntry(LPVOID call)
{
    (*static_cast<F *>(call))();
    return 0;
}

template <typename F>
void OtherThread(F call)
{
    HANDLE h = CreateThread(nullptr, 0, OtherThreadEntry<F>, &call, 0, nullptr);
    ASSERT_NE(h, nullptr);
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
}
