// Another installation in progress, as Windows Installer shows one to everybody else: its
// execution mutex, Global\_MSIExecute, held on a thread of its own until released or for the
// given time, so that the test goes on meanwhile.
#pragma once

#include <windows.h>

class OtherInstallation {
public:
    explicit OtherInstallation(DWORD holdMs) : holdMs_(holdMs)
    {
        taken_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Hold, this, 0, nullptr);
        WaitForSingleObject(taken_, 30000);
    }
    ~OtherInstallation()
    {
        SetEvent(release_);
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
        CloseHandle(release_);
        CloseHandle(taken_);
    }
    OtherInstallation(const OtherInstallation&) = delete;
    OtherInstallation& operator=(const OtherInstallation&) = delete;

private:
    static DWORD WINAPI Hold(void* parameter)
    {
        auto self = static_cast<OtherInstallation*>(parameter);
        HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute");
        SetEvent(self->taken_);
        WaitForSingleObject(self->release_, self->holdMs_);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return 0;
    }

    DWORD holdMs_;
    HANDLE taken_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE thread_ = nullptr;
};
