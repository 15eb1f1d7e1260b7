#!/usr/bin/env python3
"""Regenerate the add-on rows of resources/definitions.xml.

The rows between <items type="addons"> and its </items> are replaced by the
hand-picked rows below followed by every row of unwanted-addons.tsv, in file
order. Everything else in the document is left byte for byte as it was, so
the file stays reviewable as plain text.

Usage: make-addons.py [TSV] [DEFINITIONS]
"""
import csv
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# The shared data folder sits beside the checkout.
DEFAULT_TSV = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "data",
                           "unwanted-addons.tsv")
DEFAULT_XML = os.path.join(HERE, "..", "resources", "definitions.xml")

# Rows that predate the imported lists and carry identifiers the lists lack.
EXTRA_ROWS = [
    ("ie", "Ask Toolbar", "{b15fd82e-85bc-430d-90cb-65db1b030510}"),
    ("ff", "FoxyTunes", "{463F6CA5-EE3C-4be1-B7E6-7FEE11953374}"),
]

BLOCK = re.compile(r'(?P<open>^(?P<indent>[ \t]*)<items type="addons">)'
                   r'.*?(?P<close>^[ \t]*</items>)',
                   re.S | re.M)


def escape(text):
    # The engine's reader decodes these four named references in attributes.
    return (text.replace("&", "&amp;").replace("<", "&lt;")
                .replace(">", "&gt;").replace('"', "&quot;"))


def read_rows(path):
    rows = []
    with open(path, encoding="utf-8", newline="") as f:
        for n, rec in enumerate(csv.DictReader(f, delimiter="\t",
                                               quoting=csv.QUOTE_NONE), 2):
            kind, name, ident = rec["kind"], rec["name"], rec["identifier"]
            if kind not in ("ie", "ff") or not name.strip() or not ident.strip():
                sys.exit("%s:%d: unusable row" % (path, n))
            rows.append((kind, name, ident))
    return rows


def main():
    tsv = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_TSV
    xml = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_XML
    rows = EXTRA_ROWS + read_rows(tsv)

    with open(xml, encoding="utf-8", newline="") as f:
        doc = f.read()
    m = BLOCK.search(doc)
    if not m:
        sys.exit('%s: no <items type="addons"> block' % xml)

    newline = "\r\n" if "\r\n" in doc else "\n"
    indent = m.group("indent") + "  "
    lines = ['%s<addon name="%s" %s="%s"/>' % (indent, escape(name), kind,
                                               escape(ident))
             for kind, name, ident in rows]
    body = newline.join([m.group("open")] + lines + [m.group("close")])
    doc = doc[:m.start()] + body + doc[m.end():]

    with open(xml, "w", encoding="utf-8", newline="") as f:
        f.write(doc)
    print("%d add-on rows written to %s" % (len(rows), os.path.normpath(xml)))


if __name__ == "__main__":
    main()
