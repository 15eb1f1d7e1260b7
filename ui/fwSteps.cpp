#include "ui/fwSteps.h"

#include "config/fwTranslate.h"
#include "engine/fwTools.h"
#include "platform/TextU.h"

namespace {

const TStepInfo Steps[] = {
    {stWelcome, "Welcome", TStepKind::Listed, "WELCOME_ICO", pgWelcome, "W"},
    {stScanSettings, "ScanSettings", TStepKind::Listed, "SETTINGS_ICO", pgSettings, "S"},
    {stScanProgress, "ScanProgress", TStepKind::Listed, "PROGRESS_ICO", pgProgress, "P"},
    {stScanResults, "ScanResults", TStepKind::Listed, "RESULTS_ICO", pgResults, "R"},
    {stScanReview, "ScanReview", TStepKind::SubStep, "REVIEW_ICO", pgReview, "I"},
    {stRepair, "Repair", TStepKind::Listed, "REPAIR_ICO", pgRepair, "RP"},
    {stRepairDone, "RepairDone", TStepKind::SubStep, "REPAIR_ICO", pgRepairDone, "C"},
    {stSpeedUp, "SpeedUp", TStepKind::Listed, "SPEEDUP_ICO", pgSpeedUp, "OS"},
    {stSpeedUpProgress, "SpeedUpProgress", TStepKind::SubStep, "SPEEDUP_ICO", pgSpeedUpProgress, "O"},
    {stReviewTweaks, "ReviewTweaks", TStepKind::SubStep, "REVIEW_ICO", pgReview, "RT"},
    {stReviewFiles, "ReviewFiles", TStepKind::SubStep, "REVIEW_ICO", pgReview, "RF"},
    {stFinish, "Finish", TStepKind::Listed, "FINISH_ICO", pgFinish, "F"},
    {stRescueCenter, "RescueCenter", TStepKind::Support, "RESCUE_ICO", pgRescueCenter, "RC"},
    {stSettings, "Settings", TStepKind::Support, "SETTINGS_ICO", pgSupportSettings, "AS"},
    {stHelp, "Help", TStepKind::Support, "HELP_ICO", pgHelp, "H"},
    {stAbout, "About", TStepKind::Support, "ABOUT_ICO", pgAbout, "A"},
};

bool GroupCounts(const TfwGroup *g) { return g && g->Items && g->Items->FoundCount() > 0 && g->Selected; }

}  // namespace

const TStepInfo *StepInfo(int step)
{
    for (const TStepInfo &s : Steps)
        if (s.Step == step) return &s;
    return nullptr;
}

int StepCount() { return static_cast<int>(sizeof(Steps) / sizeof(Steps[0])); }
const TStepInfo &StepAt(int index) { return Steps[index]; }

int DisplayedTweaks(const TScanCounts &c)
{
    return (c.MemoryFigure >= 0 && c.TweaksFound > 0) ? c.TweaksFound - 1 : c.TweaksFound;
}

bool SpeedUpAvailable(const TScanCounts &c)
{
    return static_cast<int64_t>(DisplayedTweaks(c)) + c.BytesToClean + c.MemoryFigure > 0;
}

int NextStepOf(int step, const TScanCounts &c)
{
    switch (step) {
    case stWelcome: return stScanSettings;
    case stScanSettings: return stScanProgress;
    case stScanProgress: return stScanResults;
    case stScanResults: return c.ErrorsFound > 0 ? stRepair : stSpeedUp;
    case stScanReview: return stRepair;
    case stRepair: return stRepairDone;
    case stRepairDone: return stSpeedUp;
    case stSpeedUp:
    case stReviewTweaks:
    case stReviewFiles: return stSpeedUpProgress;
    case stSpeedUpProgress: return stFinish;
    default: return -1;
    }
}

int PreviousStepOf(int step)
{
    switch (step) {
    case stScanSettings: return stWelcome;
    case stScanProgress:
    case stScanResults:
    case stRepair:
    case stRepairDone:
    case stSpeedUp:
    case stSpeedUpProgress:
    case stFinish: return stScanSettings;
    case stScanReview: return stScanResults;
    case stReviewTweaks:
    case stReviewFiles: return stSpeedUp;
    default: return -1;
    }
}

int CurrentListEntry(int step)
{
    const TStepInfo *info = StepInfo(step);
    if (!info || info->Kind == TStepKind::Support) return -1;
    for (int i = StepCount() - 1; i >= 0; --i) {
        const TStepInfo &s = Steps[i];
        if (s.Step <= step && s.Kind == TStepKind::Listed) return s.Step;
    }
    return -1;
}

bool StepEntryEnabled(int listed, int current, const TScanCounts &c)
{
    if (listed > current) return false;
    if (listed == stRepair && c.ErrorsFound < 1) return false;
    if (listed == stSpeedUp && !SpeedUpAvailable(c)) return false;
    return true;
}

int CountSelected(const TfwCategory *category)
{
    int n = 0;
    if (!category) return 0;
    for (const TfwGroup *g : category->Groups) {
        if (!GroupCounts(g)) continue;
        if (g->Items->List.empty()) {
            n += g->Items->FoundCount();
            continue;
        }
        for (const TfwItem *it : g->Items->List)
            if (it->Found && it->Selected) ++n;
    }
    return n;
}

int64_t SizeSelected(const TfwCategory *category)
{
    int64_t n = 0;
    if (!category) return 0;
    for (const TfwGroup *g : category->Groups) {
        if (!GroupCounts(g)) continue;
        if (g->Items->List.empty()) {
            n += g->Items->FoundSize();
            continue;
        }
        for (const TfwItem *it : g->Items->List)
            if (it->Found && it->Selected) n += it->Size;
    }
    return n;
}

int64_t MemorySelected(const TfwCategory *category)
{
    int64_t n = 0;
    if (!category) return 0;
    for (const TfwGroup *g : category->Groups)
        if (GroupCounts(g)) n += g->Items->ReleasedMemory();
    return n;
}

void SetCategorySelection(TfwCategory *category, bool on)
{
    if (!category) return;
    for (TfwGroup *g : category->Groups) {
        if (!g->Items || g->Items->FoundCount() <= 0) continue;
        g->Selected = on;
        for (TfwItem *it : g->Items->List)
            if (it->Found) it->Selected = on;
    }
}

bool ComputeUniform(const std::vector<TReviewNodeData *> &items)
{
    bool on = false, off = false;
    for (const TReviewNodeData *d : items) {
        if (!d || !d->Item) continue;
        (d->Item->Selected ? on : off) = true;
    }
    return !(on && off);
}

void ToggleGroupNode(TReviewNodeData &group, const std::vector<TReviewNodeData *> &items)
{
    if (!group.Group) return;
    bool state;
    if (group.Uniform) {
        state = !group.Group->Selected;
    } else {
        group.Uniform = true;
        state = true;
    }
    group.Group->Selected = state;
    for (TReviewNodeData *d : items)
        if (d && d->Item) d->Item->Selected = state;
}

void ToggleItemNode(TReviewNodeData &item, TReviewNodeData &group, const std::vector<TReviewNodeData *> &items)
{
    if (!item.Item || item.Locked) return;
    item.Item->Selected = !item.Item->Selected;
    if (!group.Group) return;
    bool any = false;
    for (const TReviewNodeData *d : items)
        if (d && d->Item && d->Item->Selected) any = true;
    group.Group->Selected = any;
    group.Uniform = ComputeUniform(items);
}

std::wstring ReviewItemCaption(const TfwItem *item) { return item ? item->ReviewCaption() : std::wstring(); }

static std::wstring ReplaceAll(std::wstring text, const std::wstring &what, const std::wstring &with)
{
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

std::wstring ReviewGroupSuffix(const TfwGroup *group)
{
    if (!group || !group->Items) return {};
    const int64_t size = group->Items->FoundSize();
    if (size > 0) return ReplaceAll(Translate("ResultIncrease", L"(Increase space by %size)"), L"%size", SizeTextW(size));
    const int count = group->Items->FoundCount();
    if (count == 1) return Translate("Item1", L"(1 Item)");
    return ReplaceAll(Translate("Items", L"(%count Items)"), L"%count", std::to_wstring(count));
}

std::wstring ResultSizeTextW(int64_t bytes) { return AnsiToWide(ResultSizeText(bytes)); }
std::wstring SizeTextW(int64_t bytes) { return AnsiToWide(SizeText(bytes)); }
