#include "platform/XMLLinesU.h"

#include "platform/XMLU.h"

#include <memory>
#include <vector>

void ReadEntryLines(const std::string &text, const std::string &rootName, const std::string &entryName,
                    const std::function<void(TXMLTag *root)> &root,
                    const std::function<void(TXMLTag *entry)> &entry)
{
    TXML whole;
    whole.LoadFromString(text);
    TXMLTag *top = whole.Root() ? whole.Root()->FindFirst(rootName) : nullptr;
    if (root) root(top);
    if (!top) return;
    std::vector<TXMLTag *> fromWhole;
    for (TXMLTag *child : top->Children)
        if (child->Name == entryName) fromWhole.push_back(child);

    std::vector<std::unique_ptr<TXML>> lines;
    std::vector<TXMLTag *> fromLines;
    bool inRoot = false;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        if (end > at) {
            auto doc = std::make_unique<TXML>();
            doc->LoadFromString(text.substr(at, end - at));
            TXMLTag *r = doc->Root();
            // Entries count only after the root's own line.
            if (!inRoot) inRoot = r && r->FindFirst(rootName);
            else if (TXMLTag *e = r ? r->FindFirst(entryName) : nullptr; e && e->Name == entryName && e->Parent == r) {
                fromLines.push_back(e);
                lines.push_back(std::move(doc));
            }
        }
        at = end + 1;
    }
    for (TXMLTag *e : fromLines.size() > fromWhole.size() ? fromLines : fromWhole) entry(e);
}
