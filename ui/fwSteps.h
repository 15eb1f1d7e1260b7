// The wizard's steps and the counts it shows, free of any window: the step
// table, the Next and Back transitions, the derived counts and the review
// tree's check rules. The windows call these; the tests call them directly.
#pragma once

#include "engine/fwClasses.h"

#include <cstdint>
#include <string>

enum class TStepKind { Listed, SubStep, Support };

struct TStepInfo {
    int Step;
    const char *Id;      // "Step_" + Id + "_Header" / "_Text" / "_Caption"
    TStepKind Kind;
    const char *Icon;    // header image
    int Panel;           // page index of the wizard form
    const char *Track;   // tracking code sent when the step is entered
};

enum TStepNumber {
    stWelcome = 0, stScanSettings = 1, stScanProgress = 2, stScanResults = 4, stScanReview = 5,
    stRepair = 8, stRepairDone = 9, stSpeedUp = 10, stSpeedUpProgress = 11, stReviewTweaks = 13,
    stReviewFiles = 14, stFinish = 15, stRescueCenter = 17, stSettings = 19, stHelp = 20, stAbout = 21
};

// Pages of the wizard form; the three review steps share one.
enum TPageIndex {
    pgWelcome, pgSettings, pgProgress, pgResults, pgReview, pgRepair, pgRepairDone, pgSpeedUp,
    pgSpeedUpProgress, pgFinish, pgRescueCenter, pgSupportSettings, pgHelp, pgAbout, pgCount
};

// nullptr for a number that is no step (3, 6, 7, 12, 16, 18 and beyond).
const TStepInfo *StepInfo(int step);
// Steps in order, for walking the table.
int StepCount();
const TStepInfo &StepAt(int index);

// The wizard's counts as the last scan status left them.
struct TScanCounts {
    int ErrorsFound = 0;
    int TweaksFound = 0;      // boost findings without the add-ons
    int64_t BytesToClean = 0;
    int AddOnsFound = 0;
    int64_t MemoryFigure = 0; // free memory in percent when a release is advised, else -1
};

// The memory release is a boost finding but is shown as memory, not as a tweak.
int DisplayedTweaks(const TScanCounts &c);
// Summed in 64 bits exactly so: a memory figure of -1 cancels one tweak.
bool SpeedUpAvailable(const TScanCounts &c);

// -1 when the step has no Next / Back transition.
int NextStepOf(int step, const TScanCounts &c);
int PreviousStepOf(int step);

// The step-list entry marked current while step is shown: the step itself
// when listed, the nearest listed step before a sub-step, -1 on a support page.
int CurrentListEntry(int step);
// Whether the step-list entry of a listed step is enabled while current is shown.
bool StepEntryEnabled(int listed, int current, const TScanCounts &c);

// Selection counts over a category (groups found and Selected).
int CountSelected(const TfwCategory *category);
int64_t SizeSelected(const TfwCategory *category);
int64_t MemorySelected(const TfwCategory *category);
// Sets Selected of every found group of the category and of its found items.
void SetCategorySelection(TfwCategory *category, bool on);

// What a review tree node stands for.
struct TReviewNodeData {
    bool Checkable = true;
    bool Uniform = true;   // group nodes: every item below has the same state
    bool Locked = false;   // item nodes: a detail line that cannot be chosen
    TfwGroup *Group = nullptr;
    TfwItem *Item = nullptr;
};

// The review tree's check rules, on the engine objects themselves. items are
// the item nodes under group (the found items that got a line).
void ToggleGroupNode(TReviewNodeData &group, const std::vector<TReviewNodeData *> &items);
void ToggleItemNode(TReviewNodeData &item, TReviewNodeData &group, const std::vector<TReviewNodeData *> &items);
// Mixed: checked and unchecked items exist under the group.
bool ComputeUniform(const std::vector<TReviewNodeData *> &items);

// The line of a found item in the review tree; empty: the item gets none.
std::wstring ReviewItemCaption(const TfwItem *item);
// The suffix after a group's caption: its size, or its count of items.
std::wstring ReviewGroupSuffix(const TfwGroup *group);

// Size texts of the result pages (one decimal, the user's separator).
std::wstring ResultSizeTextW(int64_t bytes);
std::wstring SizeTextW(int64_t bytes);
