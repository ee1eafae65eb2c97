// The XML document model: tree order, character-data rules, attribute
// filters, load results and the Shift_JIS encoding.
#include <gtest/gtest.h>
#include <windows.h>

#include <wchar.h>

#include <chrono>
#include <utility>
#include <string>
#include <vector>

#include "package/xmlmemory.h"
#include "package/xmlreader.h"
#include "testsupport.h"

namespace {

int LoadText(CZolXMLReader& reader, const std::string& xml)
{
    return reader.LoadBuffer(xml.data(), xml.size());
}

std::vector<std::wstring> ChildNames(const CZolXMLNode* node)
{
    std::vector<std::wstring> names;
    for (CZolXMLNode* c = node->GetFirstChild(); c; c = c->GetNextSibling())
        names.push_back(c->GetName());
    return names;
}

// The only child of element, which must be a text node; its text.
std::wstring OnlyText(const CZolXMLNode* element)
{
    const CZolXMLNode* child = element->GetFirstChild();
    if (child == nullptr)
        return L"<no child>";
    EXPECT_EQ(child->GetNextSibling(), nullptr);
    EXPECT_EQ(child->GetType(), CZolXMLNode::TYPE_TEXT);
    return child->GetText() ? child->GetText() : L"<no text>";
}

// The whole tree under node, one line per node (type, name, attributes,
// text), depth first in the tree's own child order; no recursion.
std::wstring Dump(const CZolXMLNode* node)
{
    std::wstring out;
    std::vector<std::pair<const CZolXMLNode*, int>> pending{{node, 0}};
    while (!pending.empty()) {
        const CZolXMLNode* n = pending.back().first;
        const int depth = pending.back().second;
        pending.pop_back();
        out += std::wstring(depth, L' ') + std::to_wstring(n->GetType()) + L" " + n->GetName();
        out += L" @" + std::to_wstring(n->GetAttributeCount());
        if (n->GetText())
            out += L" [" + std::wstring(n->GetText()) + L"]";
        out += L"\n";
        if (n->GetNextSibling() && depth > 0)
            pending.push_back({n->GetNextSibling(), depth});
        if (n->GetFirstChild())
            pending.push_back({n->GetFirstChild(), depth + 1});
    }
    return out;
}

} // namespace

TEST(XmlReader, FindsDocumentElementByName)
{
    CZolXMLReader reader;
    EXPECT_FALSE(reader.IsLoaded());
    EXPECT_EQ(reader.FindChild(nullptr, L"zol_package"), nullptr);
    ASSERT_EQ(LoadText(reader, "<zol_package><filename>x</filename></zol_package>"), 0);
    EXPECT_TRUE(reader.IsLoaded());
    EXPECT_STREQ(reader.GetRoot()->GetName(), L"#DOCROOT");
    CZolXMLNode* package = reader.FindChild(nullptr, L"zol_package");
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(package->GetParent(), reader.GetRoot());
    EXPECT_EQ(reader.FindChild(nullptr, L"zol_install"), nullptr);
    EXPECT_EQ(reader.FindChild(nullptr, L"ZOL_PACKAGE"), nullptr);
}

TEST(XmlReader, ChildrenAfterTheFirstAreWalkedInReverse)
{
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, "<r><A/><B id='b'/><C/><D/></r>"), 0);
    CZolXMLNode* r = reader.FindChild(nullptr, L"r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ChildNames(r), (std::vector<std::wstring>{L"A", L"D", L"C", L"B"}));
    for (CZolXMLNode* c = r->GetFirstChild(); c; c = c->GetNextSibling())
        EXPECT_EQ(c->GetParent(), r);

    // Two elements of one name: the later one in the document is found.
    ASSERT_EQ(LoadText(reader, "<r><a/><x id='b'/><c/><x id='d'/></r>"), 0);
    CZolXMLNode* x = reader.FindChild(reader.FindChild(nullptr, L"r"), L"x");
    ASSERT_NE(x, nullptr);
    EXPECT_STREQ(x->GetAttribute(L"id"), L"d");
    EXPECT_STREQ(x->FindNextSiblingByName(L"x")->GetAttribute(L"id"), L"b");
}

TEST(XmlReader, AttributeFilterIgnoresCaseOfTheValueOnly)
{
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, "<r><item n='1'/><item lang='FR' n='2'/><Item lang='en' n='3'/>"
                               "<item LANG='en' n='4'/><item lang='EN' n='5'/></r>"),
              0);
    CZolXMLNode* r = reader.FindChild(nullptr, L"r");
    CZolXMLNode* en = reader.FindChild(r, L"item", L"lang", L"en");
    ASSERT_NE(en, nullptr);
    EXPECT_STREQ(en->GetAttribute(L"n"), L"5");
    EXPECT_STREQ(reader.FindChild(r, L"item", L"lang", L"fr")->GetAttribute(L"n"), L"2");
    EXPECT_EQ(reader.FindChild(r, L"item", L"lang", L"de"), nullptr);
    EXPECT_EQ(reader.FindChild(r, L"item", L"LANG", L"xx"), nullptr);
    EXPECT_EQ(reader.FindChild(r, L"ITEM"), nullptr);
    // Without a value there is no filter.
    EXPECT_STREQ(reader.FindChild(r, L"item", L"lang", nullptr)->GetAttribute(L"n"), L"1");

    EXPECT_EQ(en->GetAttributeCount(), 2u);
    EXPECT_EQ(en->GetAttribute(L"Lang"), nullptr);
    EXPECT_EQ(reader.FindChild(r, L"item")->GetAttribute(L"lang"), nullptr);
    EXPECT_EQ(r->GetAttributeCount(), 0u);
    EXPECT_EQ(r->GetAttribute(L"n"), nullptr);
}

TEST(XmlReader, TextIsKeptOnlyWhereItStartsWithoutWhiteSpace)
{
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, "<r>"
                               "<word>qx012345.exe</word>"
                               "<lead> word</lead>"
                               "<own>\n    word\n  </own>"
                               "<amp>A &amp; B</amp>"
                               "<joined>one\ntwo</joined>"
                               "<indented>one\n  two</indented>"
                               "<tail><c>x</c>more</tail>"
                               "<lost><c/>more</lost>"
                               "</r>"),
              0);
    CZolXMLNode* r = reader.FindChild(nullptr, L"r");
    CZolXMLNode* word = reader.FindChild(r, L"word");
    EXPECT_EQ(OnlyText(word), L"qx012345.exe");
    EXPECT_STREQ(word->GetFirstChild()->GetName(), L"#TEXT");
    EXPECT_EQ(reader.FindChild(r, L"lead")->GetFirstChild(), nullptr);
    EXPECT_EQ(reader.FindChild(r, L"own")->GetFirstChild(), nullptr);
    EXPECT_EQ(OnlyText(reader.FindChild(r, L"amp")), L"A &");
    EXPECT_EQ(OnlyText(reader.FindChild(r, L"joined")), L"onetwo");
    EXPECT_EQ(OnlyText(reader.FindChild(r, L"indented")), L"one");

    // Text after a child element goes to the last text node made...
    CZolXMLNode* tail = reader.FindChild(r, L"tail");
    EXPECT_EQ(ChildNames(tail), std::vector<std::wstring>{L"c"});
    EXPECT_EQ(OnlyText(reader.FindChild(tail, L"c")), L"xmore");
    // ...or nowhere when that child had no text.
    CZolXMLNode* lost = reader.FindChild(r, L"lost");
    EXPECT_EQ(ChildNames(lost), std::vector<std::wstring>{L"c"});
    EXPECT_EQ(reader.FindChild(lost, L"c")->GetFirstChild(), nullptr);
}

TEST(XmlReader, CDataIsKeptExactly)
{
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, "<d>\n  <![CDATA[First line\n    second line & <b>]]> after\n"
                               "<e><![CDATA[  spaced]]></e></d>"),
              0);
    CZolXMLNode* d = reader.FindChild(nullptr, L"d");
    EXPECT_EQ(ChildNames(d), (std::vector<std::wstring>{L"#CDATA", L"e"}));
    CZolXMLNode* cdata = d->FindChildByName(L"#CDATA");
    ASSERT_NE(cdata, nullptr);
    EXPECT_EQ(cdata->GetType(), CZolXMLNode::TYPE_TEXT);
    EXPECT_STREQ(cdata->GetText(), L"First line\n    second line & <b>");
    EXPECT_EQ(cdata->GetFirstChild(), nullptr);
    EXPECT_STREQ(reader.FindChild(d, L"e")->FindChildByName(L"#CDATA")->GetText(), L"  spaced");
}

TEST(XmlReader, LoadResults)
{
    std::wstring dir = zoltest::MakeTestDir(L"xmlload");
    CZolXMLReader reader;
    EXPECT_EQ(reader.Load((dir + L"\\missing.xml").c_str()), 3);
    EXPECT_EQ(reader.Load(dir.c_str()), 3);
    EXPECT_EQ(reader.Load(nullptr), 3);

    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\empty.xml", ""));
    EXPECT_EQ(reader.Load((dir + L"\\empty.xml").c_str()), 5);
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\bad.xml", "<a><b></a>"));
    EXPECT_EQ(reader.Load((dir + L"\\bad.xml").c_str()), 5);
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\enc.xml", "<?xml version='1.0' encoding='EUC-JP'?><a/>"));
    EXPECT_EQ(reader.Load((dir + L"\\enc.xml").c_str()), 5);

    // UTF-16 with a byte-order mark is detected by the parser.
    std::wstring utf16 = L"\xFEFF<?xml version='1.0' encoding='UTF-16'?><a>\x00E9t\x00E9</a>";
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\u16.xml",
                                    std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2)));
    ASSERT_EQ(reader.Load((dir + L"\\u16.xml").c_str()), 0);
    EXPECT_EQ(OnlyText(reader.FindChild(nullptr, L"a")), L"\x00E9t\x00E9");

    // A failed load discards the previous document.
    EXPECT_EQ(reader.Load((dir + L"\\bad.xml").c_str()), 5);
    EXPECT_FALSE(reader.IsLoaded());
    EXPECT_EQ(reader.FindChild(nullptr, L"a"), nullptr);
    EXPECT_EQ(LoadText(reader, ""), 5);
    EXPECT_EQ(reader.LoadBuffer(nullptr, 0), 5);
}

TEST(XmlReader, FileWhoseSizeCannotBeTakenGivesReadFailure)
{
    // Over 4 GiB: the size does not fit what the parser can take in one call.
    // The file is sparse, so it costs no disk space.
    std::wstring dir = zoltest::MakeTestDir(L"xmlbig");
    std::wstring big = dir + L"\\big.xml";
    HANDLE h = CreateFileW(big.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "<a>x</a>", 8, &written, nullptr));
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000LL + 8; // low 32 bits: 8, the valid document
    ASSERT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    CZolXMLReader reader;
    EXPECT_EQ(reader.Load(big.c_str()), 4);
    EXPECT_FALSE(reader.IsLoaded());
    DeleteFileW(big.c_str());

    // A pipe opens like a file but has no size (measured under Wine).
    HANDLE server = CreateNamedPipeW(L"\\\\.\\pipe\\zolxmlsize", PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096,
                                     0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(reader.Load(L"\\\\.\\pipe\\zolxmlsize"), 4);
    CloseHandle(server);
}

TEST(XmlReader, ShiftJisIsReadAsCodePage932)
{
    // The test process runs with an ANSI code page other than 932.
    ASSERT_NE(GetACP(), 932u);
    const std::string xml = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><d><t>"
                            "\x93\xFA\x96\x7B\x8C\xEA\x83\x5C\x83\x74\x83\x67 \xB6\xC5"
                            "</t><c><![CDATA[\x95\x5C\x8E\xA6]]></c></d>";
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, xml), 0);
    CZolXMLNode* d = reader.FindChild(nullptr, L"d");
    // Kanji, katakana whose second byte is a backslash, half-width katakana.
    EXPECT_EQ(OnlyText(reader.FindChild(d, L"t")), L"\u65E5\u672C\u8A9E\u30BD\u30D5\u30C8 \uFF76\uFF85");
    EXPECT_STREQ(reader.FindChild(d, L"c")->FindChildByName(L"#CDATA")->GetText(), L"\u8868\u793A");

    // The encoding name is matched ignoring case; a byte no Shift_JIS text
    // holds fails the parse.
    ASSERT_EQ(LoadText(reader, "<?xml version='1.0' encoding='shift_jis'?><d>\xB1</d>"), 0);
    EXPECT_EQ(OnlyText(reader.FindChild(nullptr, L"d")), L"\uFF71");
    EXPECT_EQ(LoadText(reader, "<?xml version='1.0' encoding='Shift_JIS'?><d>\xFF</d>"), 5);

    // The sample package in Shift_JIS.
    CZolXMLReader sample;
    ASSERT_EQ(sample.Load((zoltest::SourceDir() + L"\\examples\\chipset-sjis\\qx012345.xml").c_str()), 0);
    CZolXMLNode* name = sample.FindChild(sample.FindChild(sample.FindChild(nullptr, L"zol_package"), L"name"),
                                         L"name_xlate", L"lang", L"ja");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(OnlyText(name), L"\u30B5\u30FC\u30D0\u30FC \u30C1\u30C3\u30D7\u30BB\u30C3\u30C8 "
                              L"\u30C7\u30D0\u30A4\u30B9 \u30C9\u30E9\u30A4\u30D0\u30FC");
}

TEST(XmlReader, DeepAndWideDocumentsAreBuiltAndFreedWithoutRecursion)
{
    const int depth = 200000;
    std::string deep;
    deep.reserve(depth * 8);
    for (int i = 0; i < depth; ++i)
        deep += "<e>";
    deep += "x";
    for (int i = 0; i < depth; ++i)
        deep += "</e>";
    {
        CZolXMLReader reader;
        ASSERT_EQ(LoadText(reader, deep), 0);
        int levels = 0;
        CZolXMLNode* node = reader.GetRoot()->GetFirstChild();
        for (; node && node->GetType() == CZolXMLNode::TYPE_ELEMENT; node = node->GetFirstChild())
            ++levels;
        EXPECT_EQ(levels, depth);
        ASSERT_NE(node, nullptr);
        EXPECT_STREQ(node->GetText(), L"x");
    }

    const int width = 1000000;
    std::string wide = "<r>";
    wide.reserve(width * 4 + 16);
    for (int i = 0; i < width; ++i)
        wide += "<e/>";
    wide += "</r>";
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, wide), 0);
    int count = 0;
    for (CZolXMLNode* c = reader.FindChild(nullptr, L"r")->GetFirstChild(); c; c = c->GetNextSibling())
        ++count;
    EXPECT_EQ(count, width);
    // Loading again frees the previous tree first.
    EXPECT_EQ(LoadText(reader, deep), 0);
}

TEST(XmlReader, EntityAmplificationIsRefused)
{
    std::string xml = "<?xml version='1.0'?><!DOCTYPE d [<!ENTITY l0 'lollollollollollollollollollol'>";
    for (int i = 1; i <= 9; ++i) {
        xml += "<!ENTITY l" + std::to_string(i) + " '";
        for (int j = 0; j < 10; ++j)
            xml += "&l" + std::to_string(i - 1) + ";";
        xml += "'>";
    }
    xml += "]><d>&l9;</d>";
    auto start = std::chrono::steady_clock::now();
    CZolXMLReader reader;
    EXPECT_EQ(LoadText(reader, xml), 5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Names, attribute values and texts are shared or carved from the document's
// memory; every node must still read back exactly what the file held, the
// same whether it is loaded from a file or from memory, and again after the
// reader is reused.
namespace {

// Names, attribute values and texts of every kind, about 2.5 MB.
std::string LargeDocument()
{
    std::string xml = "<?xml version='1.0' encoding='UTF-8'?><r>";
    // More distinct names than are shared, repeated names and values, values
    // of every length around the sharing limit, and a CDATA section that
    // arrives in many pieces.
    for (int i = 0; i < 1500; ++i) {
        std::string name = "n" + std::to_string(i % 700);
        std::string value(static_cast<size_t>(i % 70), static_cast<char>('a' + i % 26));
        xml += "<" + name + " v='" + value + "' k='" + std::to_string(i) + "'>t" + std::to_string(i) + "</" + name + ">";
    }
    xml += "<big><![CDATA[";
    for (int i = 0; i < 20000; ++i)
        xml += "line &amp; " + std::to_string(i) + (i % 50 ? "\r\n" : " x><y\n");
    xml += "]]></big>";
    // Markup that holds '>' and '<', text that starts with white space after
    // a comment or a processing instruction, and a text longer than the
    // pieces a file goes to the parser in.
    for (int i = 0; i < 3000; ++i)
        xml += "<m a='x>y'><!-- p><q -->" + std::string(i % 3, ' ') + "w" + std::to_string(i) +
               "<?pi ><?>&#x20;tail<e/> after</m>\n";
    // Texts with inner white space: a piece ending before a blank must not
    // lose the rest of such a text.
    std::string spaced = "x";
    for (int i = 0; i < 1000; ++i)
        spaced += " y";
    xml += "<long>" + std::string(700000, 'z') + "</long>";
    for (int i = 0; i < 600; ++i)
        xml += "<s k='" + std::to_string(i) + "'>" + spaced + "</s>";
    xml += "</r>";
    return xml;
}

} // namespace

TEST(XmlReader, LargeDocumentsReadBackExactlyFromFileAndMemory)
{
    const std::string xml = LargeDocument();
    std::string spaced = "x";
    for (int i = 0; i < 1000; ++i)
        spaced += " y";
    std::wstring dir = zoltest::MakeTestDir(L"xmllarge");
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\large.xml", xml));
    CZolXMLReader fromFile, fromMemory;
    ASSERT_EQ(fromFile.Load((dir + L"\\large.xml").c_str()), 0);
    ASSERT_EQ(LoadText(fromMemory, xml), 0);
    // Compared whole; a difference is not printed (the trees are large).
    EXPECT_TRUE(Dump(fromFile.GetRoot()) == Dump(fromMemory.GetRoot()));

    CZolXMLNode* r = fromFile.FindChild(nullptr, L"r");
    ASSERT_NE(r, nullptr);
    for (int i : {0, 1, 25, 31, 32, 33, 69, 699, 700, 1499}) {
        std::wstring name = L"n" + std::to_wstring(i % 700);
        CZolXMLNode* element = fromFile.FindChild(r, name.c_str(), L"k", std::to_wstring(i).c_str());
        ASSERT_NE(element, nullptr) << i;
        EXPECT_STREQ(element->GetName(), name.c_str());
        EXPECT_EQ(std::wstring(element->GetAttribute(L"v")), std::wstring(static_cast<size_t>(i % 70), static_cast<wchar_t>(L'a' + i % 26)));
        EXPECT_EQ(OnlyText(element), L"t" + std::to_wstring(i));
    }
    const wchar_t* big = fromFile.FindChild(r, L"big")->FindChildByName(L"#CDATA")->GetText();
    ASSERT_NE(big, nullptr);
    const std::wstring start = L"line &amp; 0 x><y\nline &amp; 1\n";
    EXPECT_EQ(std::wstring(big).substr(0, start.size()), start);
    EXPECT_NE(std::wstring(big).find(L"line &amp; 19999\n"), std::wstring::npos);
    EXPECT_EQ(OnlyText(fromFile.FindChild(r, L"long")), std::wstring(700000, L'z'));
    int whole = 0;
    for (CZolXMLNode* node = fromFile.FindChild(r, L"s"); node; node = node->FindNextSiblingByName(L"s"))
        whole += OnlyText(node) == std::wstring(spaced.begin(), spaced.end()) ? 1 : 0;
    EXPECT_EQ(whole, 600);

    // A reused reader holds only the new document.
    ASSERT_EQ(LoadText(fromMemory, "<r><n5 v='x'/></r>"), 0);
    EXPECT_EQ(Dump(fromMemory.GetRoot()), L"0 #DOCROOT @0\n 0 r @0\n  0 n5 @1\n");
    EXPECT_STREQ(fromMemory.FindChild(fromMemory.FindChild(nullptr, L"r"), L"n5")->GetAttribute(L"v"), L"x");
}

// The blocks a freed document's tree and its parse were built in serve the next document,
// whatever they still hold; they are kept only up to the limit, and a block
// serves only a need it fits without being more than twice as large.
TEST(XmlMemory, FreedDocumentsLeaveTheirBlocksToTheNextWithinLimits)
{
    xmlmemory::FreeKeptBlocks();
    const std::string xml = LargeDocument();
    std::wstring expected;
    size_t kept = 0;
    {
        CZolXMLReader first;
        ASSERT_EQ(LoadText(first, xml), 0);
        expected = Dump(first.GetRoot());
    }
    kept = xmlmemory::GetKeptBytes();
    EXPECT_GT(kept, xml.size());
    {
        CZolXMLReader second;
        ASSERT_EQ(LoadText(second, xml), 0);
        // Only the parser's input buffer is back by now: the tree holds the rest.
        EXPECT_LT(xmlmemory::GetKeptBytes(), kept / 2);
        EXPECT_TRUE(Dump(second.GetRoot()) == expected);
    }
    EXPECT_EQ(xmlmemory::GetKeptBytes(), kept); // the same blocks again, nothing fresh
    xmlmemory::FreeKeptBlocks();
    EXPECT_EQ(xmlmemory::GetKeptBytes(), 0u);

    const size_t mb = 1024 * 1024;
    std::vector<std::pair<void*, size_t>> blocks;
    for (size_t i = 0; i < xmlmemory::kMostKeptBytes / mb + 16; ++i) {
        size_t usable = 0;
        void* block = xmlmemory::TakeBlock(mb, &usable);
        ASSERT_NE(block, nullptr);
        ASSERT_EQ(usable, mb);
        blocks.push_back({block, usable});
    }
    for (const auto& block : blocks)
        xmlmemory::ReturnBlock(block.first, block.second);
    EXPECT_EQ(xmlmemory::GetKeptBytes(), xmlmemory::kMostKeptBytes);
    size_t smallUsable = 0, largeUsable = 0;
    void* small = xmlmemory::TakeBlock(mb / 2 - 1, &smallUsable);
    void* large = xmlmemory::TakeBlock(mb / 2 + 1, &largeUsable);
    EXPECT_EQ(smallUsable, mb / 2 - 1);
    EXPECT_EQ(largeUsable, mb);
    EXPECT_EQ(xmlmemory::GetKeptBytes(), xmlmemory::kMostKeptBytes - mb);
    xmlmemory::ReturnBlock(small, smallUsable);
    xmlmemory::ReturnBlock(large, largeUsable);
    xmlmemory::FreeKeptBlocks();
    EXPECT_EQ(xmlmemory::GetKeptBytes(), 0u);
}

// Elements with more attributes than a shared list holds, and a large UTF-16
// file (whose bytes may look like "><" anywhere, as U+3C3E does) read back
// whole.
TEST(XmlReader, ManyAttributesAndLargeUtf16FilesReadBack)
{
    std::wstring text = L"\xFEFF<r>";
    for (int i = 0; i < 20000; ++i)
        text += L"<e a0='0' a1='1' a2='2' a3='3' a4='4' a5='5' a6='6' a7='7' a8='8' a9='" + std::to_wstring(i) +
                L"'>\x3C3E " + std::to_wstring(i) + L"</e>";
    text += L"</r>";
    std::wstring dir = zoltest::MakeTestDir(L"xmlutf16");
    ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\u16.xml",
                                    std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)));
    CZolXMLReader reader;
    ASSERT_EQ(reader.Load((dir + L"\\u16.xml").c_str()), 0);
    CZolXMLNode* r = reader.FindChild(nullptr, L"r");
    ASSERT_NE(r, nullptr);
    int whole = 0;
    for (CZolXMLNode* e = reader.FindChild(r, L"e"); e; e = e->FindNextSiblingByName(L"e")) {
        const std::wstring k = e->GetAttribute(L"a9");
        whole += e->GetAttributeCount() == 10u && std::wstring(e->GetAttribute(L"a8")) == L"8" &&
                         OnlyText(e) == L"\x3C3E " + k
                     ? 1
                     : 0;
    }
    EXPECT_EQ(whole, 20000);
}

// A document's nodes link only to nodes of the same document, so that it is
// freed whole with its reader; standalone nodes still link among themselves.
TEST(XmlReader, DocumentsTakeNoStandaloneNodes)
{
    CZolXMLReader reader;
    ASSERT_EQ(LoadText(reader, "<r><empty/></r>"), 0);
    CZolXMLNode* empty = reader.FindChild(reader.FindChild(nullptr, L"r"), L"empty");
    ASSERT_NE(empty, nullptr);
    CZolXMLNode* standalone = new CZolXMLNode(L"s", nullptr, CZolXMLNode::TYPE_ELEMENT);
    EXPECT_FALSE(empty->AttachFirstChild(standalone));
    EXPECT_FALSE(empty->InsertAfter(standalone, true));
    EXPECT_FALSE(standalone->AttachFirstChild(empty));
    EXPECT_EQ(empty->GetFirstChild(), nullptr);

    CZolXMLNode* child = new CZolXMLNode(L"c", nullptr, CZolXMLNode::TYPE_TEXT);
    child->SetText(L"abc", 3);
    child->AppendText(L"def", 3);
    EXPECT_TRUE(standalone->AttachFirstChild(child));
    EXPECT_STREQ(standalone->GetFirstChild()->GetText(), L"abcdef");
    CZolXMLNode::Destroy(standalone);
}

// The parser hands names and values over from buffers it reuses: a text is
// shared by what it says, not by where it arrives from.
TEST(XmlArena, SharedTextsFollowTheContentOfAReusedBuffer)
{
    CZolXMLArena arena;
    wchar_t buffer[64];
    std::vector<std::pair<std::wstring, const wchar_t*>> seen;
    const wchar_t* values[] = {L"ven", L"dev", L"subven", L"subdev", L"pci", L"ve", L"vendor", L"", L"vex", L"dev"};
    for (int round = 0; round < 3; ++round) {
        for (const wchar_t* value : values) {
            wcscpy(buffer, value);
            const wchar_t* shared = arena.Intern(buffer);
            ASSERT_STREQ(shared, value);
            ASSERT_NE(shared, buffer);
            for (const auto& earlier : seen)
                EXPECT_EQ(earlier.first == value, earlier.second == shared) << zoltest::ToUtf8(value);
            seen.push_back({value, shared});
        }
    }
    // Texts too long to share are copied each time.
    const std::wstring longText(40, L'x');
    wcscpy(buffer, longText.c_str());
    const wchar_t* first = arena.Intern(buffer);
    const wchar_t* second = arena.Intern(buffer);
    EXPECT_EQ(std::wstring(first), longText);
    EXPECT_NE(first, second);

    // Lists are shared by their strings, whatever array they come in.
    wchar_t* list[2] = {const_cast<wchar_t*>(seen[0].second), const_cast<wchar_t*>(seen[1].second)};
    wchar_t** a = arena.ShareArray(list, 2);
    list[1] = const_cast<wchar_t*>(seen[2].second);
    wchar_t** b = arena.ShareArray(list, 2);
    wchar_t** c = arena.ShareArray(list, 1);
    list[1] = const_cast<wchar_t*>(seen[1].second);
    EXPECT_EQ(arena.ShareArray(list, 2), a);
    EXPECT_NE(a, b);
    EXPECT_EQ(b[1], seen[2].second);
    EXPECT_EQ(b[2], nullptr);
    EXPECT_EQ(c[0], seen[0].second);
    EXPECT_EQ(c[1], nullptr);
}

// The tree does not depend on how the document reaches the parser: whole, or
// in pieces that end anywhere (inside a name, a reference, a CR LF pair, a
// character of several bytes, or a text run).
TEST(XmlReader, TreesDoNotDependOnHowTheDocumentIsFed)
{
    const std::string texts =
        "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY sp ' lead'><!ENTITY w 'word\n more'>]>\r\n"
        "<r><a>A &amp; B</a><b>one\r\ntwo\r\n  three</b><c>x&#x20;y&#10;z&#9;w</c><d>&w; tail</d>"
        "<e>&sp;</e><f>q<!-- c --> r<?pi x?>s</f><g><![CDATA[ keep\r\n  all ]]> after</g>"
        "<h>\xC3\xA9t\xC3\xA9 \xE6\x97\xA5 end</h><j>ab cd</j><k><l/>lost</k>"
        // Longer than the parser converts at a time, with a blank where it
        // cuts such a run.
        "<i>" + std::string(1024, 'a') + " b" + std::string(3000, 'c') + "</i></r>";
    // The same document in UTF-16, both byte orders.
    std::wstring wide(texts.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, texts.data(), static_cast<int>(texts.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    wide = L"\xFEFF" + wide;
    std::string little(reinterpret_cast<const char*>(wide.data()), wide.size() * 2), big = little;
    for (size_t i = 0; i + 1 < big.size(); i += 2)
        std::swap(big[i], big[i + 1]);

    std::vector<std::pair<std::wstring, std::string>> documents = {
        {L"texts", texts}, {L"utf-16le", little}, {L"utf-16be", big}, {L"large", LargeDocument()}};
    for (const wchar_t* sample : {L"chipset\\qx012345.xml", L"chipset\\install.xml", L"chipset-sjis\\qx012345.xml",
                                  L"legacy\\qx4c7d21.xml", L"legacy\\install.xml", L"virtual\\qx5e8f30.xml",
                                  L"virtual\\install.xml"})
        documents.push_back({sample, zoltest::ReadBytes(zoltest::SourceDir() + L"\\examples\\" + sample)});

    std::wstring dir = zoltest::MakeTestDir(L"xmlfeeding");
    for (const auto& document : documents) {
        const std::string& bytes = document.second;
        ASSERT_FALSE(bytes.empty()) << document.first;
        CZolXMLReader whole;
        ASSERT_EQ(whole.LoadBuffer(bytes.data(), bytes.size(), bytes.size()), 0) << document.first;
        const std::wstring expected = Dump(whole.GetRoot());
        for (size_t piece : {1, 7, 4096}) {
            CZolXMLReader reader;
            ASSERT_EQ(reader.LoadBuffer(bytes.data(), bytes.size(), piece), 0) << document.first << " " << piece;
            // Compared whole; a difference is not printed (some trees are large).
            EXPECT_TRUE(Dump(reader.GetRoot()) == expected) << document.first << " in pieces of " << piece;
        }
        ASSERT_TRUE(zoltest::WriteBytes(dir + L"\\doc.xml", bytes));
        CZolXMLReader file;
        ASSERT_EQ(file.Load((dir + L"\\doc.xml").c_str()), 0) << document.first;
        EXPECT_TRUE(Dump(file.GetRoot()) == expected) << document.first << " from a file";
    }

    // What the texts hold, read one byte at a time and as UTF-16.
    for (const std::string* bytes : {&texts, static_cast<const std::string*>(&big)}) {
        CZolXMLReader reader;
        ASSERT_EQ(reader.LoadBuffer(bytes->data(), bytes->size(), bytes == &texts ? 1 : 3), 0);
        CZolXMLNode* r = reader.FindChild(nullptr, L"r");
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"a")), L"A &");
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"b")), L"onetwo");
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"c")), L"xyzw");
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"d")), L"word");
        EXPECT_EQ(reader.FindChild(r, L"e")->GetFirstChild(), nullptr);
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"f")), L"qs");
        EXPECT_STREQ(reader.FindChild(r, L"g")->FindChildByName(L"#CDATA")->GetText(), L" keep\n  all ");
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"h")), L"\x00E9t\x00E9 \x65E5 end");
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"j")), L"ab cd");
        EXPECT_EQ(ChildNames(reader.FindChild(r, L"k")), std::vector<std::wstring>{L"l"});
        EXPECT_EQ(reader.FindChild(reader.FindChild(r, L"k"), L"l")->GetFirstChild(), nullptr);
        EXPECT_EQ(OnlyText(reader.FindChild(r, L"i")),
                  std::wstring(1024, L'a') + L" b" + std::wstring(3000, L'c'));
    }
}
