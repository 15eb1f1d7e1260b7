// The one way a front-end drives the engine: a loaded tree, the choice of
// groups, and the three runs the wizard offers (scan; repair of the registry
// category with its backup document; speed-up of the boost category with its
// backup document and the clean category without one) on the worker thread.
// The wizard, the console front-end and the tests all go through here, so no
// front-end holds engine logic of its own.
//
// Threads: every call is made on the thread that owns the message loop (the
// one that called InitSynchronize). OnProgress and OnFinish run on that thread
// too. Between runs the front-end may change the tree's Enabled and Selected
// flags; while a run is going, it only reads counts and calls Stop.
#pragma once

#include "backup/fwBackup.h"
#include "engine/fwClasses.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class TfwRunKind { Scan, Repair, SpeedUp };

// What a run reports at its end.
struct TfwRunResult {
    TfwRunKind Kind = TfwRunKind::Scan;
    // The run ended early on Stop or a progress answer of false.
    bool Stopped = false;
    // Categories whose backup document could not be written; they were not
    // fixed.
    std::vector<TfwCategoryKind> NotBackedUp;
};

using TfwRunFinished = std::function<void(const TfwRunResult &result)>;

class TfwRun {
public:
    TfwRun();
    ~TfwRun();
    TfwRun(const TfwRun &) = delete;
    TfwRun &operator=(const TfwRun &) = delete;

    // A new tree from the program's built-in definitions, replacing the one
    // before (only between runs). False when the program carries none.
    bool Load();
    // The same from document text (tools and tests).
    bool LoadFromText(const std::string &text);

    // The tree of the last Load; nullptr before. Owned by this object.
    TfwMain *Tree() const { return FTree.get(); }
    // The fix, boost and clean categories that the document has, in that order.
    std::vector<TfwCategory *> Categories() const;

    // Enables and selects exactly the groups with these ids and disables the
    // others; an empty list leaves the document's choice. False, and nothing
    // changed, when an id is unknown (the first one goes to unknown).
    bool ChooseGroups(const std::vector<std::string> &ids, std::string *unknown = nullptr);

    // Starts a run on the worker thread. False when a run is going or the
    // thread cannot start (then onFinish is not called). The repair covers the
    // fix category, the speed-up the boost and clean categories, each only
    // where something is selected; makeRestorePoint asks the system for a
    // restore point around the changes.
    bool StartScan(TfwProgressEvent onProgress, TfwRunFinished onFinish);
    bool StartRepair(bool makeRestorePoint, TfwProgressEvent onProgress, TfwRunFinished onFinish);
    bool StartSpeedUp(bool makeRestorePoint, TfwProgressEvent onProgress, TfwRunFinished onFinish);

    bool Running() const { return FThread != nullptr; }
    // Asks the running run to end at its next report; sticky for that run.
    void Stop();
    // Runs the synchronised calls of the run until it has ended (OnFinish
    // included) or timeoutMs passed; true when it ended. For front-ends
    // without a message loop of their own.
    bool WaitForEnd(unsigned timeoutMs);

    // What the next repair and speed-up would do.
    bool HasRepairWork() const;
    bool HasSpeedUpWork() const;

    // Counts of the last scan.
    int FoundTotal() const;
    int FoundCount(TfwCategoryKind kind) const;
    int64_t FoundSize(TfwCategoryKind kind) const;

    // Keeps the newest backup documents of a kind after a repair, as the
    // wizard does.
    static void TrimBackups(TfwBackupKind kind);

private:
    bool Start(TfwRunKind kind, bool makeRestorePoint, TfwProgressEvent onProgress, TfwRunFinished onFinish);

    std::unique_ptr<TfwMain> FTree;
    TfwExecThread *FThread = nullptr;  // frees itself; cleared when it finished
    bool FEnded = false;
};
