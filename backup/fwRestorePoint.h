// System restore point around a repair run. The restore client library is
// loaded on demand; where it is missing every step silently does nothing.
#pragma once

#include <string>

// False only when system restore is switched off ("DisableSR" is 1).
bool IsSystemRestoreEnabled();
// Loads the client from the system folder once; whether it is available.
bool LoadRestoreClient();
// For tests only: the first load takes the client from this path instead.
bool LoadRestoreClientFrom(const std::string &path);
// Opens a restore point ("begin system change", settings modified) named
// after the run; names longer than the record holds are cut.
void BeginRestorePoint(const std::string &name);
void EndRestorePoint();
void CancelRestorePoint();

// The packed request record as the service takes it, exposed so the layout
// can be checked; BuildRestorePointRequest fills it for one step.
#pragma pack(push, 1)
struct TRestorePointInfoA {
    unsigned int EventType;
    unsigned int RestorePtType;
    long long SequenceNumber;
    char Description[64];
};
struct TStateMgrStatus {
    unsigned int Status;
    long long SequenceNumber;
};
#pragma pack(pop)

TRestorePointInfoA BuildRestorePointRequest(unsigned eventType, unsigned pointType, long long sequence,
                                            const std::string &description);
