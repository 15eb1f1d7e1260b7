#include "backup/fwRestorePoint.h"

#include "platform/RegistryU.h"
#include "platform/SystemLibraryU.h"

#include <windows.h>

#include <cstring>
#include <mutex>

namespace {

using SetRestorePointFn = BOOL(WINAPI *)(TRestorePointInfoA *, TStateMgrStatus *);

const unsigned BeginSystemChange = 100;
const unsigned EndSystemChange = 101;
const unsigned ModifySettings = 12;
const unsigned CancelledOperation = 13;

std::mutex ClientLock;
bool ClientLoaded = false;
SetRestorePointFn SetRestorePoint = nullptr;

void LoadClient(HMODULE lib)
{
    ClientLoaded = true;
    if (lib) SetRestorePoint = reinterpret_cast<SetRestorePointFn>(GetProcAddress(lib, "SRSetRestorePointA"));
}
// The open step's answer; close and cancel reuse its sequence number.
TStateMgrStatus LastStatus = {};

void Send(unsigned eventType, unsigned pointType, const std::string &description)
{
    if (!LoadRestoreClient()) return;
    TRestorePointInfoA info = BuildRestorePointRequest(eventType, pointType, LastStatus.SequenceNumber, description);
    TStateMgrStatus status = {};
    SetRestorePoint(&info, &status);
    LastStatus = status;
}

} // namespace

bool IsSystemRestoreEnabled()
{
    return !RegReadBool(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                        "DisableSR");
}

bool LoadRestoreClient()
{
    std::lock_guard<std::mutex> lock(ClientLock);
    if (!ClientLoaded) LoadClient(LoadSystemLibrary("srclient.dll"));
    return SetRestorePoint != nullptr;
}

bool LoadRestoreClientFrom(const std::string &path)
{
    std::lock_guard<std::mutex> lock(ClientLock);
    if (!ClientLoaded) LoadClient(LoadLibraryA(path.c_str()));
    return SetRestorePoint != nullptr;
}

TRestorePointInfoA BuildRestorePointRequest(unsigned eventType, unsigned pointType, long long sequence,
                                            const std::string &description)
{
    TRestorePointInfoA info = {};
    info.EventType = eventType;
    info.RestorePtType = pointType;
    info.SequenceNumber = sequence;
    // The record holds 64 bytes including the terminating NUL: a name of 64
    // characters or more keeps its first 63 so the service never reads past it.
    std::strncpy(info.Description, description.c_str(), sizeof info.Description - 1);
    return info;
}

void BeginRestorePoint(const std::string &name)
{
    LastStatus = {};
    Send(BeginSystemChange, ModifySettings, name);
}

void EndRestorePoint() { Send(EndSystemChange, ModifySettings, ""); }

void CancelRestorePoint() { Send(EndSystemChange, CancelledOperation, ""); }
