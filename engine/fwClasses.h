// The engine tree: one root, the fix / boost / clean categories, their groups
// in display order, and under each group one scanner that owns what it finds.
// Built from the definitions document carried in the program's "DATA"
// resource; one tree serves one scan and the fixes that follow it.
#pragma once

#include "platform/TextU.h"
#include "platform/ThreadU.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TXMLTag;
class TfwMain;
class TfwItems;
class TfwItemsAddOns;

// Language of the captions shown (lower-case code such as "en", "pt-br").
// Set by the translation layer from the user's setting; "en" until then.
std::string UILanguage();
void SetUILanguage(const std::string &code);


// (language, text) pairs of one caption kind.
class TfwCaptions {
public:
    // A second text for the same language replaces the first; an empty one
    // removes it.
    void Set(const std::string &language, const std::wstring &text);
    // Text for the language, falling back from "pt-br" to "pt" and then to "en".
    std::wstring Get(const std::string &language) const;
    size_t Count() const { return FItems.size(); }

private:
    std::vector<std::pair<std::string, std::wstring>> FItems;
};

enum class TfwCategoryKind : uint8_t { None = 0, Fix = 1, Boost = 2, Clean = 3 };
enum class TfwRunMode : uint8_t { Scan = 1, Fix = 3 };
enum class TfwPhase : uint8_t { Idle = 0, Scanning = 1, BackingUp = 2, Fixing = 3 };

// Progress record handed to the user interface.
struct TfwUIStatus {
    TfwPhase Phase = TfwPhase::Idle;
    TfwCategoryKind Kind = TfwCategoryKind::None;
    std::wstring GroupCaption;
    int32_t Position = 0;
    int32_t Maximum = 0;
    int32_t FixCount = 0;
    int32_t BoostCount = 0;
    int64_t CleanSize = 0;
    int64_t MemoryFree = 0;
    int32_t AddOnCount = 0;
    // One bit (1 << kind) per category whose backup document could not be
    // written: nothing of it was changed.
    uint8_t BackupFailed = 0;

    void Clear() { *this = TfwUIStatus(); }
};

// The run's only link to the outside: true to go on, false to stop.
using TfwProgressEvent = std::function<bool(const TfwUIStatus &status)>;

class TfwClassWithCaption {
public:
    explicit TfwClassWithCaption(TfwMain *main) : Main(main) {}
    virtual ~TfwClassWithCaption() = default;
    TfwClassWithCaption(const TfwClassWithCaption &) = delete;
    TfwClassWithCaption &operator=(const TfwClassWithCaption &) = delete;

    TfwMain *Main;
    // Created on first use.
    std::unique_ptr<TfwCaptions> Captions, SettingsCaptions, Hints, SettingsHints;

    // Reads the caption, hint, settingscaption and settingshint children.
    virtual void LoadFromXML(TXMLTag *tag);

    std::wstring Caption() const;
    std::wstring Hint() const;
    std::wstring SettingsCaption() const;
    std::wstring SettingsHint() const;
};

class TfwItem {
public:
    explicit TfwItem(TfwItems *owner) : Owner(owner) {}
    virtual ~TfwItem() = default;
    TfwItem(const TfwItem &) = delete;
    TfwItem &operator=(const TfwItem &) = delete;

    TfwItems *Owner;
    bool Found = false;
    bool Selected = false;
    bool IsDetail = false;  // a line under a found key; never backed up or fixed itself
    bool Is64 = false;
    int64_t Size = 0;
    std::wstring Caption;
    // Why a scan found the item, in words the user can check against the
    // system: what was looked for, where, and in which registry view (system
    // code page). Empty for items that are no findings (definition entries).
    std::string Why;

    // The line the review tree and the console show for a found item; empty:
    // the item has no line of its own.
    virtual std::wstring ReviewCaption() const { return Caption; }
    // Why, as shown.
    std::wstring Evidence() const;

    // Reads the item from its element; false when the entry is not valid and
    // must be dropped.
    virtual bool LoadFromXML(TXMLTag *tag) = 0;
    virtual std::string GetXML() const { return {}; }
    virtual void Scan() = 0;
    virtual void Backup() {}
    virtual void Fix() = 0;
};

class TfwItems {
public:
    explicit TfwItems(TfwMain *main);
    virtual ~TfwItems();
    TfwItems(const TfwItems &) = delete;
    TfwItems &operator=(const TfwItems &) = delete;

    std::vector<TfwItem *> List;  // owned
    TfwMain *Main;
    int Step = 0, Steps = 1, SubStep = 0, SubSteps = 1;

    virtual void LoadFromXML(TXMLTag *tag) {}
    // How many entries of the definitions document the scanner works from.
    virtual size_t EntryCount() const { return List.size(); }
    virtual void Scan() = 0;
    // Repairs the found and selected items in order, one progress step each,
    // until a report answers stop.
    virtual void Fix();
    virtual int FoundCount() const;
    virtual int64_t FoundSize() const;
    virtual int SelectedCount() const;
    virtual int64_t SelectedSize() const;
    // Physical memory the last fix made available (may be negative); only a
    // memory scanner has any.
    virtual int64_t ReleasedMemory() const { return 0; }

    // Takes ownership.
    TfwItem *Add(TfwItem *item);
    void Clear();

    // Records the found and selected items in the open backup document.
    void Backup();
    // Progress of the scanner: Steps (one per registry view or list entry),
    // each split into SubSteps. NextStep reports (throttled) and returns
    // whether to go on.
    bool NextStep();
    void NextSubStep();
    double ProgressFraction();
};

class TfwGroup : public TfwClassWithCaption {
public:
    explicit TfwGroup(TfwMain *main) : TfwClassWithCaption(main) {}
    ~TfwGroup() override;

    std::string Id;
    int Order = 0;
    bool InSettings = false;
    bool Enabled = true;
    bool ShowDetails = false;
    bool Selected = true;
    TfwItems *Items = nullptr;  // owned
    std::string ItemsType;      // the lower-cased type that created Items
    int ProgressSize = 10;

    void LoadFromXML(TXMLTag *tag) override;

    int FoundCount() const;
    int64_t FoundSize() const;
    int SelectedCount() const;
    int64_t SelectedSize() const;

    void Scan();  // only when Enabled
    void Backup();
    void Fix();
};

class TfwCategory : public TfwClassWithCaption {
public:
    TfwCategory(TfwMain *main, TfwCategoryKind kind) : TfwClassWithCaption(main), Kind(kind) {}
    ~TfwCategory() override;

    TfwCategoryKind Kind;
    std::vector<TfwGroup *> Groups;  // owned, ascending Order
    int Done = 0;
    int Current = -1;

    void LoadFromXML(TXMLTag *tag) override;

    int FoundCount() const;
    int SelectedCount() const;
    int64_t SelectedSize() const;
    TfwGroup *GroupById(const std::string &id) const;

    void ScanGroups();
    void FixGroups();
    // Finished weight plus the running group's weight times its fraction.
    int ProgressPosition() const;
};

class TfwMain {
public:
    TfwMain() = default;
    virtual ~TfwMain();
    TfwMain(const TfwMain &) = delete;
    TfwMain &operator=(const TfwMain &) = delete;

    std::string Version;
    TfwCategory *Fix = nullptr, *Boost = nullptr, *Clean = nullptr;  // owned
    TfwItemsAddOns *AddOns = nullptr;  // owned by its group
    // Set by the run on a stop answer and by Stop on the user-interface thread.
    std::atomic<bool> Stopped{false};
    // Set by a fix run once it started changing the system.
    bool Changed = false;
    uint32_t LastReport = 0;
    TfwUIStatus Status;
    TfwProgressEvent OnProgress;
    // Categories of the last fix run whose backup document could not be
    // written.
    std::vector<TfwCategoryKind> BackupFailed;

    // Hooks for a derived root; the base accepts everything.
    virtual bool AcceptGroup(const std::string &id) { return true; }
    virtual bool AcceptCategoryFix(TfwCategoryKind kind) { return true; }
    virtual bool AcceptGroupFix(TfwGroup *group) { return true; }

    // Loads the document from the program's "DATA" resource.
    void LoadDefinitions();
    // Loads from document text (the resource's content); for tools and tests.
    void LoadDefinitionsFromText(const std::string &text);

    TfwCategory *Category(TfwCategoryKind kind) const;
    TfwGroup *GroupById(const std::string &id) const;

    // Scans every enabled group of the fix, boost and clean categories.
    void ScanAll();
    // Backs up and fixes one category, or all of them for None.
    void FixCategories(TfwCategoryKind kind);
    // Hands the status to OnProgress unless the last report is less than
    // 500 ms old (force reports always); false when the run must stop.
    bool ReportProgress(bool force);
    // Counts findings while a scan runs, in the running category for None.
    void AddFound(int count, TfwCategoryKind kind = TfwCategoryKind::None);
};

// One scan or fix run on a worker thread of its own. The thread frees itself
// when the run ends; OnProgress and OnFinish run on the thread that owns the
// message loop (see Synchronize). A stop is sticky: once OnProgress answered
// false or Stop was called, every later report of the run answers false.
class TfwExecThread : public TThread {
public:
    enum { CatFix = 2, CatBoost = 4, CatClean = 8 };
    using TFinishEvent = std::function<void(TfwExecThread *thread)>;

    // Created suspended; Start runs it. Installs its relay as the root's
    // progress callback.
    TfwExecThread(TfwMain *main, bool makeRestorePoint, TFinishEvent onFinish, TfwProgressEvent onProgress,
                  int categories, TfwRunMode mode);
    ~TfwExecThread() override;

    TfwMain *Main;
    TfwRunMode Mode;
    int Categories;  // CatFix | CatBoost | CatClean
    bool MakeRestorePoint;
    TfwProgressEvent OnProgress;
    TFinishEvent OnFinish;
    TfwUIStatus LastStatus;
    bool Continue = true;
    // The run ended on a stop (kept for OnFinish; the root's flag is reset).
    bool WasStopped = false;

    // Asks the run to end at its next report.
    void Stop();

protected:
    void Execute() override;

private:
    bool Relay(const TfwUIStatus &status);
};
