// Path macros ("%WINDIR%", "%PROGRAMFILES%", ...) used by the documents, and
// their reverse: a real path turned back into its macro form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One entry of the macro table.
struct TCSi {
    std::string Macro;  // with both percent signs, e.g. "%WINDIR%"
    std::string Path;   // a known folder: empty or ending with a backslash
    uint32_t Hash;      // of the lower-cased macro; only speeds up lookups
};

// The macro table of one mode, built on first use and never changed after.
// Entries "%COMMONFILES%", "%PROGRAMFILES%" and "%COMMONPROGRAMFILES%" name
// the 64-bit folders in 64-bit mode and this program's view otherwise.
const std::vector<TCSi> &MacroTable(bool is64);

// Replaces every "%NAME%" of the text: a table macro (case ignored) by its
// folder, any other by the environment variable of that name; an unknown name
// stays, upper-cased. A leading "\SystemRoot\" becomes the Windows folder. When
// the text held a "%", doubled backslashes are collapsed (a leading UNC "\\"
// is kept). Safe to call from several threads at once.
std::string ExpandPath(const std::string &text);
// The same with the 64-bit folders for the mode-dependent macros.
std::string ExpandPath64(const std::string &text);

// Ordered folder=macro list for the reverse substitution. Folders are kept in
// upper case with their trailing backslash; the first folder that prefixes a
// path wins.
class TPathReplacerStr {
public:
    struct Entry {
        std::string Folder;  // upper case, ends with a backslash
        std::string Macro;   // e.g. "%WINDIR%\"
    };

    // Also adds the short 8.3 form of every folder that has a different one.
    bool ShortNames = false;

    // Does nothing for an empty folder. macro is given without the backslash.
    void Add(const std::string &folder, const std::string &macro);
    // True and result = macro + the rest of path (case kept) when a folder
    // prefixes path (case ignored); false and result = path otherwise.
    bool Replace(const std::string &path, std::string &result) const;
    const std::vector<Entry> &Entries() const { return FEntries; }

private:
    std::vector<Entry> FEntries;
};

// Replaces the leading known folder of path by its macro. is64 picks the
// instance in which "%PROGRAMFILES%", "%COMMONFILES%" name the 64-bit folders
// and this program's own ones become "...32%". Sets *replaced when given.
std::string PathToMacro(const std::string &path, bool is64 = false, bool *replaced = nullptr);
