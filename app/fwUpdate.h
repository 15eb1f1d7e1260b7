// The self-update: once a day and on "Update now" the main program asks the
// update service for the files of a newer version, asks the user (unless the
// update is silent), downloads them with a progress window, unpacks
// cabinets, moves the new files into the program folder (a file that cannot
// be replaced is placed beside it as ".new" for the complete-update role) and
// restarts the tray program.
//
// What the service answers is trusted only as far as it can be checked: every
// file must come with its SHA-256 digest and size, its name must stay inside
// the update folder, and a download that does not match is refused before
// anything is moved. The check address comes only from the built-in
// configuration or the machine-wide settings key, never from a per-user
// value. Whatever goes wrong leaves the old program in place and removes what
// the update put into the update folder.
#pragma once

#include "platform/ThreadU.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TUpdateFile {
    std::string Entry;    // the answer's label (ENT)
    std::string Address;  // absolute http or https address (URL)
    std::string Sha256;   // 64 lower-case hexadecimal digits
    int64_t Size = -1;    // announced size in bytes, -1 when not given
    std::string LocalPath;  // the download in the update folder, once downloaded
};

struct TUpdateOffer {
    std::vector<TUpdateFile> Files;
    bool Silent = false;
};

// "UPDATE_URL" (HKLM override or the built-in configuration; a per-user value
// is ignored) expanded by ExpandUrl, with "&ver=" and the running version.
std::string UpdateCheckAddress();

// Reads the service's answer. Files are read only when the root element
// Result has Status "OK" and either manual or checkSetting is true: one entry
// per Ver of Vers, in order; Silent from the trimmed text of Silent ("1") when
// there is at least one file. An answer with a Ver that lacks a valid digest,
// has a non-numeric or negative size, an address that is not absolute http or
// https, or a file name UpdateFileName refuses (or one already used by an
// earlier Ver) is refused as a whole: false and an empty offer.
bool ParseUpdateAnswer(const std::string &answer, bool manual, bool checkSetting, TUpdateOffer &offer);

// The last path segment of the address (after the last "/", cut at the first
// "?"); empty when that is no plain file name that stays in its folder.
std::string UpdateFileName(const std::string &address);

// Day-number rules: a daily check is due when there is no last check or it is
// at least one day away (either direction); an automatic update when there
// is no last update or it is at least three days away.
bool DailyCheckDue(bool known, double last, double now);
bool AutomaticUpdateDue(bool known, double last, double now);

// "1 h 2 min " / "1 min 5 sec" / "7 sec": hours and minutes when not zero,
// seconds only below an hour.
std::wstring UpdateTimeText(int64_t seconds);

// Whether a download is the file the answer announced: its size (when
// announced) and its digest agree.
bool DownloadMatches(const std::string &path, const TUpdateFile &file);

// Moves the downloads (already checked) into programFolder: cabinets are
// unpacked into updateFolder first and their entries moved; every file goes
// to programFolder + its name. A file in the way is renamed to ".old"; when
// that fails the new file is placed as ".new" and updateReady is set. Files
// keep the program folder's inherited access list: an executable that every
// user may replace would be run by the next elevated start. When a
// cabinet does not unpack, or a file cannot be put in place, every file moved
// so far is put back from its ".old" copy, ".new" files of this update are
// removed, and the result is false. In every case the downloads and the
// unpacked files are removed from the update folder afterwards. nextFile
// runs after each download but the last.
bool InstallDownloads(const std::vector<std::string> &downloads, const std::string &updateFolder,
                      const std::string &programFolder, bool &updateReady,
                      const std::function<void()> &nextFile = nullptr);

// The update check on a background thread (never blocks the caller).
// Automatic checks run at most once a day ("LAST_CHECK"); a manual one always
// runs and ends with a notice when nothing new is offered.
void CheckForUpdates(bool manual);

// The check itself, on the calling thread: the daily rule (an automatic check
// writes "LAST_CHECK" when it goes on), the request and the answer. True when
// an update thread should follow (always for a manual check, otherwise when
// files were offered).
bool RunUpdateCheck(bool manual, TUpdateOffer &offer);

// The owner of the update's question box (the main window); none by default.
void SetUpdateOwnerWindow(HWND owner);
// Places used instead of the program and update folders, for tests; empty
// texts put the real ones back.
void SetUpdatePlacesForTest(const std::string &programFolder, const std::string &updateFolder);

// ---- the progress window ----------------------------------------------------

class TFormUpdate {
public:
    // Every member function runs on the user-interface thread.
    TFormUpdate();
    ~TFormUpdate();
    TFormUpdate(const TFormUpdate &) = delete;
    TFormUpdate &operator=(const TFormUpdate &) = delete;

    void Prepare(int fileCount);
    void NextFile();
    void ShowProgress();
    void ShowInstalling();
    void ShowDownloaded();  // estimate and rate read "-"
    void Show();
    void Hide();
    bool Visible() const;
    HWND Handle() const { return FWindow; }

    // Read by the download thread without a lock.
    std::atomic<bool> Cancelled{false};
    std::atomic<int64_t> Received{0}, Total{0};

    int FileIndex = 0, FileCount = 0;
    DWORD FileStart = 0, LastRate = 0;
    double Rate = 0;
    int64_t SecondsLeft = 0;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Create();
    void SetText(int id, const std::wstring &text);
    HWND Control(int id) const;

    HWND FWindow = nullptr;
    HFONT FFont = nullptr;
    HICON FIcon = nullptr;
};

// The process's update window, created on the user-interface thread on first
// use. Call on that thread.
TFormUpdate &UpdateForm();

// ---- the threads ------------------------------------------------------------

class TFWDownload : public TThread {
public:
    // Runs at once; the creator frees it after Done. maxSize (bytes, 0 for no
    // limit) ends a reply that grows beyond the announced file.
    TFWDownload(const std::string &address, TFormUpdate *window, const std::string &target,
                int64_t maxSize = 0);
    ~TFWDownload() override;

    std::string Address, Target;
    TFormUpdate *Window;
    int64_t MaxSize;
    std::atomic<bool> Done{false};
    std::atomic<bool> Succeeded{false};
    // Whether the failure was a cancel (nothing to report) rather than an error.
    std::atomic<bool> WasCancelled{false};

protected:
    void Execute() override;
};

class TFWUpdateThread : public TThread {
public:
    // Starts running at once; frees itself at the end when freeOnTerminate.
    TFWUpdateThread(const TUpdateOffer &offer, bool freeOnTerminate, bool silent, bool manual);
    ~TFWUpdateThread() override;

    std::vector<TUpdateFile> Files;
    bool Manual;
    bool Silent;

protected:
    void Execute() override;
};
