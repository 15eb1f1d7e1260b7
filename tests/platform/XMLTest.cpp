#include "platform/XMLU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

struct ValueCase {
    const char *doc;
    const char *value;  // of the first element
    int children;
};

TEST(XML, ElementValues)
{
    const ValueCase cases[] = {
        {"<a>text</a>", "text", 0},
        {"<a> \t\r\n text \r\n\t</a>", "text", 0},
        {"<a>one<b/>two</a>", "one", 1},
        {"<a><![CDATA[x < y & z]]></a>", "x < y & z", 0},
        {"<a><![CDATA[ keep  ]]>after</a>", " keep  ", 0},
        {"<a>A &amp; B &lt;&gt; &QUOT;&apos;</a>", "A & B <> \"'", 0},
        {"<a>&#65;&#x41;&#X42;</a>", "AAB", 0},
        {"<a>&nbsp;|&#zz;|&#;</a>", " | | ", 0},
        {"<a>&abcdefghijk;</a>", "&abcdefghijk;", 0},
        {"<a>AT&T</a>", "AT&T", 0},
        {"<a><b></b><c/><d /></a>", "", 3},
    };
    for (const auto &c : cases) {
        TXML x;
        x.LoadFromString(c.doc);
        TXMLTag *a = x.Root()->FindFirst("a");
        ASSERT_NE(a, nullptr) << c.doc;
        EXPECT_EQ(a->Value, c.value) << c.doc;
        EXPECT_EQ(a->ChildCount(), c.children) << c.doc;
        EXPECT_TRUE(x.Errors().empty()) << c.doc;
    }
}

TEST(XML, NumericReferenceKeepsLowByte)
{
    EXPECT_EQ(XMLDecode("&#8364;"), std::string("\xAC"));
    EXPECT_EQ(XMLDecode("&#0;x"), std::string("\0x", 2));
    EXPECT_EQ(XMLDecode("& ;"), " ");          // not a number: a blank
    EXPECT_EQ(XMLDecode("tail &amp"), "tail &amp");  // no ";" at all
}

TEST(XML, AttributesOfEmptyElement)
{
    TXML x;
    x.LoadFromString("<list><item name=\"A &amp; B\" path=\"C:&#92;x\"/><next/></list>");
    TXMLTag *item = x.Root()->FindPath({"list", "item"});
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetAttr("name"), "A & B");
    EXPECT_EQ(item->GetAttr("PATH"), "C:\\x");
    EXPECT_EQ(item->ChildCount(), 0);
    // "next" is a sibling, not a child of the empty element.
    EXPECT_EQ(x.Root()->FindFirst("list")->ChildCount(), 2);
}

TEST(XML, SingleQuotesAreOrdinaryBytes)
{
    TXML x;
    x.LoadFromString("<a b='x' c=\"y\"/>");
    TXMLTag *a = x.Root()->FindFirst("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Attributes.size(), 1u);
    // The value is the next double-quoted stretch; the name keeps what stood before.
    EXPECT_EQ(a->Attributes[0].Name, "b");
    EXPECT_EQ(a->Attributes[0].Value, "y");
}

TEST(XML, DeclarationCommentAndDuplicateAttributes)
{
    TXML x;
    x.LoadFromString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- note -->\r\n"
                     "<root k=\"1\" k=\"2\">v</root>");
    ASSERT_EQ(x.Root()->ChildCount(), 3);
    EXPECT_EQ(x.Root()->ChildAt(0)->Name, "xml");
    EXPECT_EQ(x.Root()->ChildAt(0)->GetAttr("encoding"), "UTF-8");
    EXPECT_EQ(x.Root()->ChildAt(1)->Name, "--");
    TXMLTag *root = x.Root()->FindFirst("ROOT");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Attributes.size(), 2u);
    EXPECT_EQ(root->GetAttr("k"), "1");
    EXPECT_EQ(root->Value, "v");
    EXPECT_EQ(x.Root()->ChildAt(3), nullptr);
    EXPECT_EQ(x.Root()->ChildAt(-1), nullptr);
}

TEST(XML, EndTagIsComparedExactly)
{
    TXML x;
    x.LoadFromString("<r><a></b><c/></r>");
    ASSERT_EQ(x.Errors().size(), 1u);
    EXPECT_EQ(x.Errors()[0], "Invalid End Tag \"b\" shoud be \"a\"");
    // The wrong end tag closed "a"; "c" belongs to "r".
    TXMLTag *r = x.Root()->FindFirst("r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->ChildCount(), 2);
    EXPECT_EQ(r->ChildAt(1)->Name, "c");

    TXML y;
    y.LoadFromString("<caption>x</CAPTION>");
    EXPECT_EQ(y.Errors().size(), 1u);
    EXPECT_NE(y.Root()->FindFirst("CAPTION"), nullptr);
}

TEST(XML, SearchCursorAndPath)
{
    TXML x;
    x.LoadFromString("<r><g id=\"1\"/><h/><G id=\"2\"/><g id=\"3\"><i>deep</i></g></r>");
    TXMLTag *r = x.Root()->FindFirst("r");
    ASSERT_NE(r, nullptr);
    std::string ids;
    for (TXMLTag *g = r->FindFirst("g"); g; g = r->FindNext()) ids += g->GetAttr("id");
    EXPECT_EQ(ids, "123");
    EXPECT_EQ(r->FindNext(), nullptr);
    EXPECT_EQ(GetValue(x.Root()->FindPath({"r", "g"})), "");
    EXPECT_EQ(x.Root()->FindPath({"r", "missing", "i"}), nullptr);
    EXPECT_EQ(GetAttr(nullptr, "id"), "");
    EXPECT_EQ(GetValue(nullptr), "");
}

TEST(XML, OwnershipAndClear)
{
    TXMLTag parent;
    TXMLTag *a = parent.AddChild("a", "k", "v");
    parent.AddChild("b");
    TXMLTag *c = parent.AddChild("c", "k", "");
    EXPECT_EQ(a->GetAttr("k"), "v");
    EXPECT_TRUE(c->Attributes.empty());
    delete a;
    ASSERT_EQ(parent.ChildCount(), 2);
    EXPECT_EQ(parent.ChildAt(0)->Name, "b");
    EXPECT_EQ(parent.ChildAt(1), c);
    c->AddChild("grandchild");
    parent.SetAttr("X", "1");
    parent.SetAttr("x", "2");
    EXPECT_EQ(parent.Attributes.size(), 1u);
    EXPECT_EQ(parent.Attributes[0].Name, "x");
    parent.SetAttrCount(3);
    EXPECT_EQ(parent.Attributes.size(), 3u);
    parent.Clear();
    EXPECT_EQ(parent.ChildCount(), 0);
    EXPECT_TRUE(parent.Attributes.empty());
}

TEST(XML, EncodeRules)
{
    EXPECT_EQ(XMLEncode("<a & \"b\">'"), "&lt;a &amp; &#34;b&#34;&gt;'");
    EXPECT_EQ(XMLEncode(std::string("\r\n\x7f\x85\x86\x9f\xa0", 7)), "&#13;&#10;&#127;\x85&#134;&#159;\xa0");
    EXPECT_EQ(XMLEncodeKeepEntities("&amp; &AMP; &#34; &lt;&gt; & &quot;"),
              "&amp; &AMP; &#34; &lt;&gt; &amp; &amp;quot;");
    for (int b = 1; b < 256; ++b) {
        std::string s(1, char(b));
        EXPECT_EQ(XMLDecode(XMLEncode(s)), s) << b;
    }
}

// Truncated and malformed documents keep what was read and never read past
// the text: every prefix of a real-looking document is parsed.
TEST(XML, EveryPrefixOfADocumentParses)
{
    const std::string doc =
        "<?xml version=\"1.0\"?>\n<fixwell ver=\"1\"><fix><group id=\"a\" order=\"2\">"
        "<caption lng=\"cs\">x &amp; y</caption><items type=\"list\"><reg root=\"HKLM\" key=\"k#5C\"/>"
        "<![CDATA[z]]></items></group><!-- c --></fix></fixwell>";
    for (size_t len = 0; len <= doc.size(); ++len) {
        TXML x;
        x.LoadFromString(doc.substr(0, len));
        EXPECT_LE(x.Root()->ChildCount(), 2);
    }
    TXML full;
    full.LoadFromString(doc);
    EXPECT_TRUE(full.Errors().empty());
    EXPECT_EQ(GetAttr(full.Root()->FindPath({"fixwell", "fix", "group", "items", "reg"}), "key"), "k#5C");
}

TEST(XML, GarbageAndDeepNesting)
{
    const char *junk[] = {"<", "<<<<", "</>", "<a b=>", "<a b=\"x>", "<a\tb>", "]]>", "<![CDATA[",
                          "<a =\"1\" / >", "&&&;;", "<a><b><c></a></b>"};
    for (const char *j : junk) {
        TXML x;
        x.LoadFromString(j);
        SUCCEED() << j;
    }
    TXML deep;
    std::string nest;
    for (int i = 0; i < 200000; ++i) nest += "<a>";
    deep.LoadFromString(nest);
    EXPECT_FALSE(deep.Errors().empty());
    EXPECT_EQ(deep.Root()->ChildCount(), 1);
}

TEST(XML, LoadFromFile)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir) + "tovu_xml_test.xml";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const char body[] = "<r><x>1</x></r>";
    DWORD n;
    WriteFile(h, body, sizeof body - 1, &n, nullptr);
    CloseHandle(h);

    TXML x;
    EXPECT_TRUE(x.LoadFromFile(path));
    EXPECT_EQ(GetValue(x.Root()->FindPath({"r", "x"})), "1");
    // A failed load keeps the previous tree.
    EXPECT_FALSE(x.LoadFromFile(path + ".missing"));
    EXPECT_FALSE(x.LoadFromFile(dir));
    EXPECT_EQ(GetValue(x.Root()->FindPath({"r", "x"})), "1");
    DeleteFileA(path.c_str());
}

} // namespace
