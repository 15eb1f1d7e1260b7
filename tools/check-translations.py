#!/usr/bin/env python3
"""Checks the translation table that Tovu.exe carries as its "TRANSLATE" resource.

    tools/check-translations.py [resources/translate.ini]

The programs read the table through the private-profile functions, one value
into a 2048-byte buffer, with the English text of the code as the fallback.
A table that breaks one of the rules below does not fail loudly at run time:
it shows English, a cut text or a raw marker in one language only. So this
script checks, and exits with 1 when anything is wrong:

  - UTF-8 without a byte-order mark, no NUL byte, every line ending in CR LF;
  - a "Languages" section first, then one section per listed code, in order;
  - every language section holds the same keys, and every key the programs
    look up (KEYS below) is there;
  - for each key, every language carries the same markers: the placeholders
    that the lookup replaces (%BRAND%, %BRAND_DOMAIN%, %SUPPORT_PHONE%,
    %SUPPORT_MAIL%, %#%, %C%, %YEAR%, "|" for a line break) and the markers
    that the calling code fills in afterwards (%count, %size, and %d / %s,
    which are positional and so must also occur equally often);
  - no other "%" in a value (a mistyped marker would show up verbatim, and a
    stray "%" breaks the formatting of the texts that carry %d or %s);
  - values are not empty, at most 2047 bytes, have no leading or trailing
    blanks (the profile functions drop them) and are not wrapped in double
    quotes (the profile functions strip those too).
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_TABLE = ROOT / "resources" / "translate.ini"
MAX_VALUE_BYTES = 2047


def _prefixed(prefix, names):
    return [prefix + n for n in names.split()]


# Every key that Tovu.exe and TovuTray.exe look up.
KEYS = (
    # Wizard form controls (form translation: window name, "_", control name).
    _prefixed("FormSteps_", """
        ButtonBack ButtonCancel ButtonClose ButtonFAQ ButtonFinish ButtonNext
        ButtonOnlineHelp ButtonPauseScan ButtonRemove ButtonRepairBack
        ButtonRestore ButtonResultsBack ButtonResultsReview ButtonReviewBack
        ButtonReviewFiles ButtonReviewTweaks ButtonSaveSettings ButtonSpeedUp
        ButtonSpeedUpBack ButtonSpeedUpGo ButtonStopScan ButtonUndoChanges
        ButtonUpdate LabelAboutPrivacy LabelAboutReg LabelAboutTerms
        LabelAboutVersionText LabelAboutWebsite LabelCleanSizeText LabelCleanUp
        LabelCleanUpText LabelErrorText LabelFAQ LabelFileCleanUp
        LabelFileCleanUpText LabelFinishDiskText LabelFinishMemoryText
        LabelFinishNote LabelFinishRegistryText LabelFinishText
        LabelFinishThankYou LabelFinishTweaksText LabelOnlineHelp
        LabelRegistryScan LabelRegistryScanText LabelRepairDoneText
        LabelRescueCenterNote LabelRescueCenterText LabelResultsClean
        LabelResultsCleanInfo LabelResultsCleanNext LabelResultsNext
        LabelSettingsCLSID LabelSettingsDelay LabelSettingsNext
        LabelSettingsRestorePoint LabelSettingsText LabelSettingsTray
        LabelSettingsUpdates LabelSpeedUp LabelSpeedUpCleanSizeText
        LabelSpeedUpNext LabelSpeedUpProgress LabelSpeedUpText
        LabelSpeedUpTweaksText LabelSystemSpeedUp LabelSystemSpeedUpText
        LabelTweakText LabelUpdate LabelWelcomeHeader""")
    # Main window controls.
    + _prefixed("MainForm_", """
        ButtonHelp_Hint ButtonStep ButtonSupportAbout ButtonSupportHelp
        ButtonSupportRescue ButtonSupportSettings LabelStepsHeader ScanTab
        SupportTab""")
    # Steps: page header, header text and step-list caption.
    + _prefixed("Step_", """
        About_Caption About_Header
        Finish_Caption Finish_Header
        Help_Caption Help_Header
        Repair_Caption Repair_Header Repair_Text
        RepairDone_Header
        RescueCenter_Caption RescueCenter_Header
        ReviewFiles_Header ReviewFiles_Text
        ReviewTweaks_Header ReviewTweaks_Text
        ScanProgress_Caption ScanProgress_Header ScanProgress_Text
        ScanResults_Caption ScanResults_Header ScanResults_Text
        ScanReview_Header ScanReview_Text
        ScanSettings_Caption ScanSettings_Header ScanSettings_Text
        Settings_Caption Settings_Header
        SpeedUp_Caption SpeedUp_Header SpeedUp_Text
        SpeedUpProgress_Header SpeedUpProgress_Text
        Welcome_Caption Welcome_Header""")
    # Wizard and main window messages and texts set by code.
    + _prefixed("AskClose", "1 2 3 4 5")
    + _prefixed("AskCloseBrowsers", "1 2 3")
    + _prefixed("AskFinish", "1 2 3")
    + ["AskSaveChanges"]
    + _prefixed("AskSpeedUp", "1 2 3")
    + _prefixed("AskStop", "1 2 3 4 5")
    + """BackupMore BackupRegistry BackupRegistryPartial BackupRemove
        BackupRestore BackupRestored BackupSpeedUp BackupSpeedUpPartial
        ButPauseScan ButResumeScan FixAllButton FixAllHint FixClean
        FixCleanNoMore Fixed1Error Fixed1Tweak FixedErrors FixedTweaks
        FixErrorsButton FixErrorsHint Item1 Items MsgAdmin1 MsgAdmin2
        MsgNoCloseBrowsers1 MsgNoCloseBrowsers2 Result1Error ResultCleanUp
        ResultErrors ResultIncrease ResultRegistry ResultSpeedUp
        Scanning""".split()
    + _prefixed("WelcomeText", "1 2 3 4 5 6 7")
    # Engine run: restore point.
    + "RestorePointCreating RestorePointNameClean RestorePointNameFix".split()
    # Self-update.
    + """UpdateDownloading UpdateFailed UpdateFormCaption UpdateInstalling
        UpdateNewVersion1 UpdateNewVersion2 UpdateNoVersion
        UpdateProgress""".split()
    # Tray program.
    + """CloseText1 CloseText2 CloseTitle TrayExit TrayNotification TrayOpen
        TrayScan""".split()
)

# Replaced by the lookup itself, in any mix of case.
PLACEHOLDER = re.compile(r"%(BRAND_DOMAIN|BRAND|SUPPORT_PHONE|SUPPORT_MAIL|#|C|YEAR)%",
                         re.IGNORECASE)
# Filled in by the calling code after the lookup (longest name first).
CALLER_MARKER = re.compile(r"%(count|size|d|s)")


def markers(value):
    """Returns (set of placeholders, counts of caller markers, leftover '%' count)."""
    found = {m.group(0).upper() for m in PLACEHOLDER.finditer(value)}
    rest = PLACEHOLDER.sub("", value)
    if "|" in rest:
        found.add("|")
    counts = {}
    for m in CALLER_MARKER.finditer(rest):
        counts[m.group(0)] = counts.get(m.group(0), 0) + 1
    leftover = CALLER_MARKER.sub("", rest).count("%")
    return found, counts, leftover


def read_table(raw, errors):
    """Parses the table into [(section, [(key, value), ...]), ...]."""
    if raw.startswith(b"\xef\xbb\xbf"):
        errors.append("file starts with a UTF-8 byte-order mark")
        raw = raw[3:]
    if b"\0" in raw:
        errors.append("file contains a NUL byte")
    if raw and not raw.endswith(b"\r\n"):
        errors.append("last line does not end with CR LF")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        errors.append(f"not valid UTF-8: {e}")
        return []
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    sections = []
    for number, line in enumerate(lines, 1):
        if line.endswith("\r"):
            line = line[:-1]
        elif number < len(lines):
            errors.append(f"line {number}: ends with LF alone, not CR LF")
        if "\r" in line:
            errors.append(f"line {number}: CR inside the line")
            line = line.replace("\r", "")
        if not line.strip():
            continue
        if line.startswith("["):
            if not line.endswith("]"):
                errors.append(f"line {number}: malformed section header")
            sections.append((line[1:-1].strip(), []))
            continue
        if line.startswith(";"):
            continue
        if "=" not in line:
            errors.append(f"line {number}: neither a section, an entry nor a comment")
            continue
        if not sections:
            errors.append(f"line {number}: entry before the first section")
            continue
        key, value = line.split("=", 1)
        if not key.isascii() or key != key.strip() or not key:
            errors.append(f"line {number}: key {key!r} is empty, not ASCII or has blanks")
        sections[-1][1].append((key, value))
    return sections


def check(path):
    errors = []
    raw = pathlib.Path(path).read_bytes()
    sections = read_table(raw, errors)
    if not sections:
        return errors + ["no sections"], 0, 0

    names = [s.lower() for s, _ in sections]
    for s in sorted(set(names)):
        if names.count(s) > 1:
            errors.append(f"section [{s}] appears {names.count(s)} times")

    if names[0] != "languages":
        errors.append('the first section is not "Languages"')
        return errors, 0, 0
    languages = sections[0][1]
    codes = [k.lower() for k, _ in languages]
    for code, name in languages:
        if not re.fullmatch(r"[a-z]{2}", code):
            errors.append(f"[Languages]: code {code!r} is not two lower-case letters")
        if not name.strip():
            errors.append(f"[Languages]: language {code!r} has no name")
    if names[1:] != codes:
        errors.append(f"language sections {names[1:]} do not match the list {codes} "
                      "(same codes, same order)")

    tables = {}
    for section, entries in sections[1:]:
        table = {}
        for key, value in entries:
            folded = key.lower()
            if folded in table:
                errors.append(f"[{section}] {key}: key appears more than once")
            table[folded] = (key, value)
        tables[section.lower()] = table
    if not tables:
        return errors + ["no language sections"], len(codes), 0

    first = codes[0] if codes and codes[0] in tables else next(iter(tables))
    reference = tables[first]
    wanted = {k.lower(): k for k in KEYS}

    for code, table in tables.items():
        for folded, key in wanted.items():
            if folded not in table:
                errors.append(f"[{code}] {key}: missing")
        if code != first:
            for folded in sorted(set(reference) - set(table)):
                if folded not in wanted:
                    errors.append(f"[{code}] {reference[folded][0]}: missing (present in [{first}])")
            for folded in sorted(set(table) - set(reference)):
                errors.append(f"[{code}] {table[folded][0]}: not present in [{first}]")

        for folded, (key, value) in table.items():
            where = f"[{code}] {key}"
            size = len(value.encode("utf-8"))
            if size > MAX_VALUE_BYTES:
                errors.append(f"{where}: {size} bytes, at most {MAX_VALUE_BYTES} are read")
            if not value.strip():
                errors.append(f"{where}: empty value (the English default would show)")
            elif value != value.strip(" \t"):
                errors.append(f"{where}: leading or trailing blanks are dropped when read")
            if len(value) >= 2 and value[0] == value[-1] == '"':
                errors.append(f"{where}: surrounding double quotes are dropped when read")
            found, counts, leftover = markers(value)
            if leftover:
                errors.append(f"{where}: '%' that is no known placeholder or marker")
            if code != first and folded in reference:
                ref_found, ref_counts, _ = markers(reference[folded][1])
                if found != ref_found:
                    errors.append(f"{where}: placeholders {sorted(found)}, "
                                  f"[{first}] has {sorted(ref_found)}")
                if counts != ref_counts:
                    errors.append(f"{where}: markers {counts}, [{first}] has {ref_counts}")

    return errors, len(codes), len(reference)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_TABLE
    errors, languages, keys = check(path)
    for e in errors:
        print(f"{path}: {e}", file=sys.stderr)
    if errors:
        print(f"{path}: {len(errors)} problem(s)", file=sys.stderr)
        return 1
    print(f"{path}: {languages} languages, {keys} keys each, "
          f"all {len(KEYS)} looked-up keys present")
    return 0


if __name__ == "__main__":
    sys.exit(main())
