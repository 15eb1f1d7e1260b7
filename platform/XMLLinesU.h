// The lists the system writes itself (backup documents, the cleaned-entries
// list, the postponed-startup lists) hold one element per line below one root
// element. Read as a whole, a single broken line (cut short, an open quote, a
// stray "<") can swallow every entry after it; read line by line, it loses
// only itself.
#pragma once

#include <functional>
#include <string>

class TXMLTag;

// Calls entry for every element named entryName (exact case) directly below
// the first element named rootName (case folded), in document order: from the
// whole document, or, when reading each line as a document of its own finds
// more such elements, from the lines. root, when given, gets the root element
// of the whole reading first (nullptr when there is none; then nothing else
// is called). The tags are valid only during the calls.
void ReadEntryLines(const std::string &text, const std::string &rootName, const std::string &entryName,
                    const std::function<void(TXMLTag *root)> &root,
                    const std::function<void(TXMLTag *entry)> &entry);
