#include "engine/fwRun.h"

#include "platform/ThreadU.h"

#include <windows.h>

TfwRun::TfwRun() = default;

TfwRun::~TfwRun()
{
    // A tree must outlive its run: a front-end that goes away mid-run stops it
    // and lets it end first.
    if (FThread) {
        Stop();
        WaitForEnd(5000);
    }
}

bool TfwRun::Load()
{
    if (FThread) return false;
    auto tree = std::make_unique<TfwMain>();
    tree->LoadDefinitions();
    if (!tree->Fix && !tree->Boost && !tree->Clean) return false;
    FTree = std::move(tree);
    return true;
}

bool TfwRun::LoadFromText(const std::string &text)
{
    if (FThread) return false;
    auto tree = std::make_unique<TfwMain>();
    tree->LoadDefinitionsFromText(text);
    if (!tree->Fix && !tree->Boost && !tree->Clean) return false;
    FTree = std::move(tree);
    return true;
}

std::vector<TfwCategory *> TfwRun::Categories() const
{
    std::vector<TfwCategory *> list;
    if (!FTree) return list;
    for (TfwCategory *c : {FTree->Fix, FTree->Boost, FTree->Clean})
        if (c) list.push_back(c);
    return list;
}

bool TfwRun::ChooseGroups(const std::vector<std::string> &ids, std::string *unknown)
{
    if (!FTree || FThread) return false;
    if (ids.empty()) return true;
    for (const std::string &id : ids) {
        if (!FTree->GroupById(id)) {
            if (unknown) *unknown = id;
            return false;
        }
    }
    for (TfwCategory *c : Categories()) {
        for (TfwGroup *g : c->Groups) {
            bool wanted = false;
            for (const std::string &id : ids) wanted |= g->Id == id;
            g->Enabled = g->Selected = wanted;
        }
    }
    return true;
}

bool TfwRun::Start(TfwRunKind kind, bool makeRestorePoint, TfwProgressEvent onProgress, TfwRunFinished onFinish)
{
    if (!FTree || FThread) return false;
    int categories = 0;
    TfwRunMode mode = TfwRunMode::Fix;
    switch (kind) {
    case TfwRunKind::Scan:
        mode = TfwRunMode::Scan;
        categories = TfwExecThread::CatFix | TfwExecThread::CatBoost | TfwExecThread::CatClean;
        break;
    case TfwRunKind::Repair:
        if (FTree->Fix && FTree->Fix->SelectedCount() > 0) categories = TfwExecThread::CatFix;
        break;
    case TfwRunKind::SpeedUp:
        if (FTree->Boost && FTree->Boost->SelectedCount() > 0) categories |= TfwExecThread::CatBoost;
        if (FTree->Clean && FTree->Clean->SelectedCount() > 0) categories |= TfwExecThread::CatClean;
        break;
    }
    FEnded = false;
    FTree->BackupFailed.clear();
    auto finished = [this, kind, onFinish](TfwExecThread *thread) {
        TfwRunResult result;
        result.Kind = kind;
        result.Stopped = thread->WasStopped;
        if (FTree) result.NotBackedUp = FTree->BackupFailed;
        FThread = nullptr;
        FEnded = true;
        if (onFinish) onFinish(result);
    };
    auto *t = new TfwExecThread(FTree.get(), makeRestorePoint && kind != TfwRunKind::Scan, finished,
                                std::move(onProgress), categories, mode);
    FThread = t;
    if (!t->Start()) {
        FThread = nullptr;
        FTree->OnProgress = nullptr;
        delete t;
        return false;
    }
    return true;
}

bool TfwRun::StartScan(TfwProgressEvent onProgress, TfwRunFinished onFinish)
{
    return Start(TfwRunKind::Scan, false, std::move(onProgress), std::move(onFinish));
}

bool TfwRun::StartRepair(bool makeRestorePoint, TfwProgressEvent onProgress, TfwRunFinished onFinish)
{
    return Start(TfwRunKind::Repair, makeRestorePoint, std::move(onProgress), std::move(onFinish));
}

bool TfwRun::StartSpeedUp(bool makeRestorePoint, TfwProgressEvent onProgress, TfwRunFinished onFinish)
{
    return Start(TfwRunKind::SpeedUp, makeRestorePoint, std::move(onProgress), std::move(onFinish));
}

void TfwRun::Stop()
{
    if (FThread) FThread->Stop();
}

bool TfwRun::WaitForEnd(unsigned timeoutMs)
{
    DWORD start = GetTickCount();
    while (FThread) {
        if (GetTickCount() - start >= timeoutMs) return false;
        CheckSynchronize(50);
    }
    return true;
}

bool TfwRun::HasRepairWork() const { return FTree && FTree->Fix && FTree->Fix->SelectedCount() > 0; }

bool TfwRun::HasSpeedUpWork() const
{
    return FTree && ((FTree->Boost && FTree->Boost->SelectedCount() > 0) ||
                     (FTree->Clean && FTree->Clean->SelectedCount() > 0));
}

int TfwRun::FoundTotal() const
{
    int n = 0;
    for (TfwCategory *c : Categories()) n += c->FoundCount();
    return n;
}

int TfwRun::FoundCount(TfwCategoryKind kind) const
{
    TfwCategory *c = FTree ? FTree->Category(kind) : nullptr;
    return c ? c->FoundCount() : 0;
}

int64_t TfwRun::FoundSize(TfwCategoryKind kind) const
{
    TfwCategory *c = FTree ? FTree->Category(kind) : nullptr;
    if (!c) return 0;
    int64_t size = 0;
    for (TfwGroup *g : c->Groups)
        if (g->Enabled) size += g->FoundSize();
    return size;
}

void TfwRun::TrimBackups(TfwBackupKind kind)
{
    TfwBackups backups;
    backups.Load();
    backups.Trim(kind);
}
