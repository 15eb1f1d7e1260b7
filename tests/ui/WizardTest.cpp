// The wizard in its real main window, driven through its controls: a small
// definitions document of its own scans registry values under a scratch key,
// so each test decides what the scan finds.
#include "UiDriver.h"

#include "backup/fwBackup.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "engine/fwClassesEx.h"
#include "engine/fwCleanRep.h"
#include "platform/RegistryU.h"
#include "platform/ThreadU.h"
#include "ui/frmAllMain.h"
#include "ui/frmAllSteps.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>
#include <string>

using namespace ui;

namespace {

const char Scratch[] = "Software\\TovuTest\\Ui";

// Four registry errors in two groups, two tweaks and a memory group; a value
// that already holds 1 is no finding.
const char Definitions[] = R"(<fixwell ver="1.0.0.0">
<fix><caption>Registry problems</caption>
 <group id="ui-com" order="1" settings="1" progsize="100"><caption>COM entries</caption>
  <settingscaption>COM entries</settingscaption><hint>Entries of components that are gone</hint>
  <items type="list">
   <reg root="HKCU" key="Software\TovuTest\Ui\Fix" name="A1" value="1" type="num" scan="value" fix="value" caption="First broken entry"/>
   <reg root="HKCU" key="Software\TovuTest\Ui\Fix" name="A2" value="1" type="num" scan="value" fix="value" caption="Second broken entry"/>
   <reg root="HKCU" key="Software\TovuTest\Ui\Fix" name="A3" value="1" type="num" scan="value" fix="value" caption="Third broken entry"/>
  </items></group>
 <group id="ui-paths" order="2" settings="1" progsize="100"><caption>Application paths</caption>
  <settingscaption>Application paths</settingscaption>
  <items type="list">
   <reg root="HKCU" key="Software\TovuTest\Ui\Fix" name="B1" value="1" type="num" scan="value" fix="value" caption="Path of a removed program"/>
  </items></group>
</fix>
<boost><caption>Speed up</caption>
 <group id="ui-tweaks" order="11"><caption>Windows tweaks</caption>
  <items type="list">
   <reg root="HKCU" key="Software\TovuTest\Ui\Boost" name="T1" value="1" type="num" scan="value" fix="value" caption="Faster menus"/>
   <reg root="HKCU" key="Software\TovuTest\Ui\Boost" name="T2" value="1" type="num" scan="value" fix="value" caption="Quicker shutdown"/>
  </items></group>
 <group id="memory" order="13"><caption>Memory Release</caption><items type="memory"/></group>
</boost>
</fixwell>)";

// A machine with plenty of free memory: no release is advised (figure -1).
bool RoomyMemory(uint64_t &total, uint64_t &avail)
{
    total = 4ull << 30;
    avail = 3ull << 30;
    return true;
}

void SetValue(const char *key, const char *name, DWORD value)
{
    HKEY k;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS) return;
    RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(k);
}

bool HasValue(const char *key, const char *name, DWORD want)
{
    DWORD v = 0, size = sizeof v, type = 0;
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    bool ok = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE *>(&v), &size) == ERROR_SUCCESS && v == want;
    RegCloseKey(k);
    return ok;
}

size_t FixBackupCount()
{
    TfwBackups b;
    b.Load();
    return b.FixBackups.size();
}

void ForgetCleaned()
{
    if (TfwCleanRep *c = ProcessCleanRep()) {
        c->Clear();
        c->Save();
    }
}

class Wizard : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitSynchronize();
        SetSettingsKeyPath("Software\\TovuTest\\UiSettings");
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        SetTranslationPlaces(std::string(temp) + "TovuUiLng\\", "Software\\TovuTest\\UiLng");
        LoadTranslations();
        TfwItemsMemory::Api.Status = RoomyMemory;
        // A repaired entry is not reported again for weeks; each test starts
        // from an empty list of its own.
        EnsureCleanReport(std::string(temp) + "TovuUiCleanRep.xml");
        SetWizardDefinitions(Definitions);
    }

    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, Scratch);
        ForgetCleaned();
        SetCurrentLanguage("en");
    }

    void TearDown() override
    {
        Form.reset();
        Pump(50);
        RegDeleteTreeA(HKEY_CURRENT_USER, Scratch);
    }

    void Open()
    {
        Form = std::make_unique<TMainForm>();
        ASSERT_TRUE(Form->Create());
        ShowWindow(Form->Handle(), SW_SHOW);
        Form->Steps()->ShowPage(stWelcome);
        Form->RefreshProgress();
        Pump(100);
    }

    HWND Win() const { return Form->Handle(); }
    HWND Ctl(const char *name) const { return Form->Steps()->Control(name); }
    // A button of the page being shown (the step list holds texts like
    // "Finish" too).
    HWND Button(const std::wstring &text) const
    {
        const TStepInfo *s = StepInfo(Form->CurrentStep);
        HWND b = s ? FindByText(Form->Steps()->Panel(s->Panel), text) : nullptr;
        return b ? b : FindByText(Win(), text);
    }

    // Welcome, settings, then the scan to its end.
    void ScanToResults(const std::string &snapPrefix = "")
    {
        if (Form->CurrentStep == stWelcome) Press(Button(L"Next"));
        ASSERT_EQ(Form->CurrentStep, stScanSettings);
        if (!snapPrefix.empty()) Snap(snapPrefix + "settings");
        Press(Button(L"Next"));
        ASSERT_EQ(Form->CurrentStep, stScanProgress);
        if (!snapPrefix.empty()) {
            Pump(1500);
            Snap(snapPrefix.substr(0, 1) + "3-scanning");
        }
        ASSERT_TRUE(WaitUntil([&] { return Form->CurrentStep == stScanResults; }, 60000));
    }

    std::unique_ptr<TMainForm> Form;
};

// The user's walk: Next, Next, the scan, "Fix All Errors", the repair,
// "Finish" with its question answered, the summary; the registry holds the
// repaired values and a fix backup was written before.
TEST_F(Wizard, WalkFromWelcomeToSummaryRepairsAndBacksUp)
{
    const size_t backupsBefore = FixBackupCount();
    Open();
    Snap("01-welcome");
    ScanToResults("02-");
    EXPECT_EQ(Text(Ctl("LabelResultsHeadline")), L"Tovu has found 4 errors!");
    HWND fix = Button(L"Fix All Errors");
    ASSERT_TRUE(Visible(fix));
    Snap("04-results");

    Press(fix);
    EXPECT_EQ(Form->CurrentStep, stRepair);
    Pump(1200);
    Snap("05-repair");
    ASSERT_TRUE(WaitUntil([&] { return Form->CurrentStep == stRepairDone; }, 60000));
    EXPECT_TRUE(Visible(Button(L"Speed Up My System")));
    Snap("06-repair-done");
    for (const char *name : {"A1", "A2", "A3", "B1"}) EXPECT_TRUE(HasValue("Software\\TovuTest\\Ui\\Fix", name, 1)) << name;
    EXPECT_EQ(FixBackupCount(), backupsBefore + 1);

    {
        TBoxAnswer yes(IDYES);
        Press(Button(L"Finish"));
        ASSERT_TRUE(yes.Wait());
        EXPECT_NE(yes.Text().find(L"Do you really want to finish Tovu?"), std::wstring::npos);
    }
    EXPECT_EQ(Form->CurrentStep, stFinish);
    EXPECT_EQ(Text(Ctl("LabelFinishRegistry")), L"4 errors");
    EXPECT_EQ(Text(Ctl("LabelFinishTweaks")), L"0 tweaks");
    EXPECT_TRUE(Visible(Button(L"Close")));
    Snap("09-summary");
}

// After a repair the speed-up applies the tweaks and the summary counts them.
TEST_F(Wizard, SpeedUpAppliesTweaksAndTheSummaryCountsThem)
{
    Open();
    ScanToResults();
    Press(Button(L"Fix All Errors"));
    ASSERT_TRUE(WaitUntil([&] { return Form->CurrentStep == stRepairDone; }, 60000));
    Press(Button(L"Speed Up My System"));
    ASSERT_EQ(Form->CurrentStep, stSpeedUp);
    EXPECT_EQ(Text(Ctl("LabelSpeedUpTweaks")), L"2");
    EXPECT_EQ(SendMessageW(Ctl("CheckSpeedUp"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(Ctl("CheckCleanUp")));  // nothing to clean
    Snap("07-speed-up");
    Press(Ctl("ButtonReviewTweaks"));
    ASSERT_EQ(Form->CurrentStep, stReviewTweaks);
    Snap("07b-review-tweaks");
    Press(Button(L"Back"));
    ASSERT_EQ(Form->CurrentStep, stSpeedUp);
    Press(Ctl("ButtonSpeedUpGo"));
    ASSERT_EQ(Form->CurrentStep, stSpeedUpProgress);
    Pump(1200);
    Snap("08-speed-up-progress");
    ASSERT_TRUE(WaitUntil([&] { return Form->CurrentStep == stFinish; }, 60000));
    EXPECT_TRUE(HasValue("Software\\TovuTest\\Ui\\Boost", "T1", 1));
    EXPECT_TRUE(HasValue("Software\\TovuTest\\Ui\\Boost", "T2", 1));
    EXPECT_EQ(Text(Ctl("LabelFinishRegistry")), L"4 errors");
    EXPECT_EQ(Text(Ctl("LabelFinishTweaks")), L"2 tweaks");
}

// The results page in its three forms.
TEST_F(Wizard, ResultsPageForms)
{
    struct TCase {
        const char *Name;
        bool RegistryClean, TweaksDone;
        const wchar_t *Hint;
        bool Fix, Next, Close;
    } cases[] = {
        {"errors", false, false, L"Click on Fix All Errors to repair your system registry.", true, false, false},
        {"clean-with-tweaks", true, false, L"Your computer is clean.", false, true, false},
        {"nothing", true, true, L"Your computer is clean and needs no speeding up.", false, false, true},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        RegDeleteTreeA(HKEY_CURRENT_USER, Scratch);
        ForgetCleaned();
        if (c.RegistryClean)
            for (const char *n : {"A1", "A2", "A3", "B1"}) SetValue("Software\\TovuTest\\Ui\\Fix", n, 1);
        if (c.TweaksDone)
            for (const char *n : {"T1", "T2"}) SetValue("Software\\TovuTest\\Ui\\Boost", n, 1);
        Open();
        ScanToResults();
        EXPECT_EQ(Text(Ctl("LabelResultsHint")), c.Hint);
        EXPECT_EQ(Visible(Ctl("ButtonFix")), c.Fix);
        EXPECT_EQ(Visible(Ctl("ButtonNext")), c.Next);
        EXPECT_EQ(Visible(Ctl("ButtonCancel")), c.Fix || c.Next);
        EXPECT_EQ(Visible(Ctl("ButtonClose")), c.Close);
        EXPECT_EQ(Visible(Ctl("LabelResultsClean")), c.RegistryClean);
        if (c.TweaksDone) EXPECT_EQ(Form->Counts.MemoryFigure, -1);
        Snap(std::string("04-results-") + c.Name);
        if (c.Next) {
            // Next skips the repair and goes to the speed-up.
            Press(Ctl("ButtonNext"));
            EXPECT_EQ(Form->CurrentStep, stSpeedUp);
        }
        if (c.Close) {
            // Close ends the wizard without asking.
            Press(Ctl("ButtonClose"));
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(Win()); }, 5000));
        }
        Form.reset();
        Pump(50);
    }
}

// The review tree: a press in an item's check box area clears it, its group
// stays checked but mixed and the results page offers "Fix Errors"; a press
// on the mixed group's box checks the group and all its items again.
TEST_F(Wizard, ReviewTreeItemAndMixedGroup)
{
    Open();
    ScanToResults();
    Press(Ctl("ButtonResultsReview"));
    ASSERT_EQ(Form->CurrentStep, stScanReview);
    HWND tree = Ctl("TreeViewReview");
    HTREEITEM root = TreeView_GetRoot(tree);
    ASSERT_NE(root, nullptr);
    HTREEITEM group = TreeView_GetChild(tree, root);
    ASSERT_NE(group, nullptr);
    wchar_t buf[256] = {};
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = group;
    tv.pszText = buf;
    tv.cchTextMax = 256;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    EXPECT_EQ(std::wstring(buf), L"COM entries\b(3 Items)");
    TreeView_Expand(tree, group, TVE_EXPAND);
    Pump(100);
    HTREEITEM item = TreeView_GetChild(tree, group);
    RECT r;
    ASSERT_TRUE(TreeView_GetItemRect(tree, item, &r, FALSE));
    TfwGroup *com = Form->Run.Tree()->GroupById("ui-com");
    ASSERT_NE(com, nullptr);
    // Outside the item's box range nothing changes.
    MouseClick(tree, 90, r.top + 12);
    EXPECT_TRUE(com->Items->List[0]->Selected);
    MouseClick(tree, 65, r.top + 12);
    EXPECT_FALSE(com->Items->List[0]->Selected);
    EXPECT_TRUE(com->Selected);
    Snap("05-review-mixed");

    Press(Ctl("ButtonReviewBack"));
    ASSERT_EQ(Form->CurrentStep, stScanResults);
    EXPECT_TRUE(Visible(Button(L"Fix Errors")));
    EXPECT_EQ(Text(Ctl("LabelResultsHint")), L"Click on Fix Errors to repair your system registry.");

    Press(Ctl("ButtonResultsReview"));
    group = TreeView_GetChild(tree, TreeView_GetRoot(tree));
    ASSERT_TRUE(TreeView_GetItemRect(tree, group, &r, FALSE));
    MouseClick(tree, 45, r.top + 12);
    EXPECT_TRUE(com->Selected);
    for (TfwItem *i : com->Items->List) EXPECT_TRUE(i->Selected);
    Press(Ctl("ButtonReviewBack"));
    EXPECT_TRUE(Visible(Button(L"Fix All Errors")));
}

// Pausing keeps the worker waiting inside its progress call: nothing moves
// until "Resume Scan", and the scan then finishes from where it was. The
// pause holds this thread inside the window's progress call too, so what
// the paused window shows is read by a timer that then presses "Resume Scan".
struct TPauseProbe {
    TMainForm *Form = nullptr;
    HWND Pause = nullptr;
    bool Taken = false, Running = false;
    int Step = -1, Position = -1;
    std::wstring Caption, Button;
} Probe;

void CALLBACK ProbePaused(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    Probe.Taken = true;
    Probe.Running = Probe.Form->Run.Running();
    Probe.Step = Probe.Form->CurrentStep;
    Probe.Position = Probe.Form->ProgressPosition;
    Probe.Caption = Probe.Form->ProgressCaption;
    Probe.Button = Text(Probe.Pause);
    Snap("03-scan-paused");
    PostMessageW(Probe.Pause, BM_CLICK, 0, 0);
}

TEST_F(Wizard, PauseHoldsTheRunAndResumeGoesOn)
{
    Open();
    Press(Button(L"Next"));
    Press(Button(L"Next"));
    HWND pause = Ctl("ButtonPauseScan");
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(pause) != 0; }, 10000));
    Press(pause);
    EXPECT_EQ(Text(pause), L"Resume Scan");
    const std::wstring caption = Form->ProgressCaption;
    const int position = Form->ProgressPosition;
    Probe = TPauseProbe{Form.get(), pause};
    // Longer than an unpaused phase of this document takes.
    SetTimer(nullptr, 0, 4000, ProbePaused);
    ASSERT_TRUE(WaitUntil([&] { return Probe.Taken && Form->CurrentStep == stScanResults; }, 60000));
    EXPECT_TRUE(Probe.Running);
    EXPECT_EQ(Probe.Step, stScanProgress);
    EXPECT_EQ(Probe.Position, position);
    EXPECT_EQ(Probe.Caption, caption);
    EXPECT_EQ(Probe.Button, L"Resume Scan");
    EXPECT_EQ(Text(pause), L"Pause Scan");
    EXPECT_EQ(Form->Counts.ErrorsFound, 4);
    EXPECT_EQ(Form->Counts.TweaksFound, 2);
}

// "Stop Scan": No lets the scan go on with the button enabled again; Yes ends
// it at that progress call and shows the results found so far.
TEST_F(Wizard, StopScanAsksAndStopsOnYes)
{
    Open();
    Press(Button(L"Next"));
    Press(Button(L"Next"));
    HWND stop = Ctl("ButtonStopScan");
    {
        TBoxAnswer no(IDNO);
        Press(stop);
        EXPECT_FALSE(IsWindowEnabled(stop));
        ASSERT_TRUE(no.Wait());
        EXPECT_EQ(no.Text().rfind(L"Do you really want to STOP this scan?", 0), 0u);
    }
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(stop) != 0; }, 5000));
    EXPECT_EQ(Form->CurrentStep, stScanProgress);
    {
        TBoxAnswer yes(IDYES);
        Press(stop);
        ASSERT_TRUE(yes.Wait());
    }
    ASSERT_TRUE(WaitUntil([&] { return Form->CurrentStep == stScanResults; }, 10000));
    EXPECT_FALSE(Form->Run.Running());
    // Stopped before everything was found (a whole scan finds 4 + 2).
    EXPECT_LT(Form->Counts.ErrorsFound + Form->Counts.TweaksFound, 6);
}

// Closing asks on every step but the summary; No keeps the window.
TEST_F(Wizard, CloseAsksOnEveryStepButTheSummary)
{
    Open();
    for (int step : {stWelcome, stScanSettings}) {
        if (step != Form->CurrentStep) Press(Button(L"Next"));
        ASSERT_EQ(Form->CurrentStep, step);
        TBoxAnswer no(IDNO);
        PostMessageW(Win(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(no.Wait()) << step;
        EXPECT_EQ(no.Text().rfind(L"Do you really want to cancel Tovu Wizard?", 0), 0u);
        EXPECT_TRUE(IsWindowVisible(Win()));
    }
    ScanToResults();
    for (int step : {stScanResults, stScanReview}) {
        if (step == stScanReview) Press(Ctl("ButtonResultsReview"));
        TBoxAnswer no(IDNO);
        Press(Ctl(step == stScanReview ? "ButtonReviewBack" : "ButtonCancel"));
        if (step == stScanReview) {
            // Back is no close; ask through the title bar's close box instead.
            Press(Ctl("ButtonResultsReview"));
            PostMessageW(Win(), WM_CLOSE, 0, 0);
        }
        ASSERT_TRUE(no.Wait()) << step;
        EXPECT_TRUE(IsWindowVisible(Win()));
    }
    // The summary closes without a question.
    Form->GoToStep(stFinish);
    TBoxAnswer none(IDNO, 1500);
    PostMessageW(Win(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(Win()); }, 3000));
    EXPECT_FALSE(none.Answered());
}

// The review tree in German and Japanese, for a person to check that the
// texts fit.
TEST_F(Wizard, ReviewTreeInGermanAndJapanese)
{
    for (const char *lang : {"de", "ja"}) {
        SetCurrentLanguage(lang);
        SetUILanguage(lang);
        Open();
        Press(FindByText(Win(), Translate("FormSteps_ButtonNext", L"Next")));
        Press(FindByText(Win(), Translate("FormSteps_ButtonNext", L"Next")));
        ASSERT_TRUE(WaitUntil([&] { return Form->CurrentStep == stScanResults; }, 60000));
        Snap(std::string("04-results-") + lang);
        Press(Ctl("ButtonResultsReview"));
        HWND tree = Ctl("TreeViewReview");
        TreeView_Expand(tree, TreeView_GetChild(tree, TreeView_GetRoot(tree)), TVE_EXPAND);
        EXPECT_EQ(Text(Ctl("ButtonReviewBack")), Translate("FormSteps_ButtonReviewBack", L"Back"));
        Snap(std::string("05-review-") + lang);
        Form.reset();
        Pump(50);
    }
    SetUILanguage("en");
}

}  // namespace
