#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "item.h"
#include "tempdir.h"

namespace {

std::unique_ptr<Item> parse(const std::string& text, std::string* err = nullptr)
{
    std::string e;
    auto root = parsexml(text.data(), text.size(), e);
    if (err)
        *err = e;
    return root;
}

} // namespace

TEST(ItemTree, FindIncludesSelfAndSearchesPreOrder)
{
    auto root = parse("<a><b><c>1</c></b><c>2</c><a>inner</a></a>");
    Item* a = root->find("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->find("a"), a);             // itself, not the child of the same name
    EXPECT_EQ(a->find("c")->value(), "1");  // depth first: b's child before a's second child
    EXPECT_EQ(root->find("missing"), nullptr);
}

TEST(ItemTree, ChildrenByNameAndAll)
{
    auto root = parse("<r><x>1</x><y/><x>2</x></r>");
    Item* r = root->find("r");
    auto xs = r->children("x");
    ASSERT_EQ(xs.size(), 2u);
    EXPECT_EQ(xs[1]->value(), "2");
    EXPECT_EQ(r->children("").size(), 3u);
    EXPECT_TRUE(r->children("zzz").empty());
}

TEST(ItemTree, PathOfParsedElements)
{
    auto root = parse("<msgs><msg><body>x</body></msg></msgs>");
    EXPECT_EQ(root->path(), "");
    EXPECT_EQ(root->find("msgs")->path(), "/msgs");
    EXPECT_EQ(root->find("body")->path(), "/msgs/msg/body");
}

TEST(ItemTree, MergeMovesChildrenOnlyForEqualPaths)
{
    auto t1 = parse("<msgs><msg><seqno>1</seqno></msg></msgs>");
    auto t2 = parse("<msgs><msg><seqno>2</seqno></msg><msg><seqno>3</seqno></msg></msgs>");
    Item* m1 = t1->find("msgs");
    Item* m2 = t2->find("msgs");
    m1->merge(m2);
    auto all = m1->children("msg");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2]->find("seqno")->value(), "3");
    EXPECT_EQ(all[2]->getparent(), m1);
    EXPECT_TRUE(m2->getchildren().empty());

    auto t3 = parse("<other><msg/></other>");
    Item* o = t3->find("other");
    m1->merge(o); // different path: nothing moves
    EXPECT_EQ(m1->children("msg").size(), 3u);
    EXPECT_EQ(o->children("msg").size(), 1u);
}

TEST(ItemTree, RemoveChildOnlyDirectChildren)
{
    auto root = parse("<a><b><c/></b><d/></a>");
    Item* a = root->find("a");
    Item* c = a->find("c");
    a->removechild(c); // grandchild: nothing happens
    EXPECT_EQ(a->find("c"), c);
    a->removechild(a->find("b"));
    EXPECT_EQ(a->find("c"), nullptr);
    EXPECT_EQ(a->getchildren().size(), 1u);
}

TEST(ItemTree, NumericValues)
{
    Item it("x");
    it.setintvalue(-1);
    EXPECT_EQ(it.value(), "-1");
    it.setvalue("  42abc");
    EXPECT_EQ(it.intvalue(), 42);
    it.setvalue("abc");
    EXPECT_EQ(it.intvalue(), 0);
    EXPECT_EQ(it.doublevalue(), 0.0);
    it.setvalue("12.5");
    const char* old = setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    // A decimal-comma locale must not change how client numbers read.
    if (setlocale(LC_NUMERIC, "de_DE.UTF-8") || setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        EXPECT_DOUBLE_EQ(it.doublevalue(), 12.5);
    }
    setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_DOUBLE_EQ(it.doublevalue(), 12.5);
}

TEST(ItemTree, ToXmlLayout)
{
    Item a("a");
    a.setvalue("x");
    auto b = std::make_unique<Item>("b");
    b->setvalue("y");
    a.addchild(std::move(b));
    EXPECT_EQ(a.toxml(), "<a>x\n    <b>y\n    </b>\n</a>\n");
    Item leaf("e");
    EXPECT_EQ(leaf.toxml(), "<e>\n</e>\n");
}

TEST(XmlParser, FirstStartFileReadsBackValues)
{
    std::string err;
    auto root = parse(kFirstStartConfig, &err);
    EXPECT_EQ(err, "");
    Item* cfg = root->find("varnix_cfg");
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->value(), "");
    Item* server = cfg->find("server");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->getchildren().size(), 3u);
    EXPECT_EQ(server->find("host")->value(), "127.0.0.1");
    EXPECT_EQ(server->find("port")->value(), "31416");
    EXPECT_EQ(server->find("hostid")->value(), "Local Server");
}

TEST(XmlParser, CharacterDataRules)
{
    // Entities each arrive as their own piece; a blanks-only piece between them is dropped.
    auto root = parse("<r><a>&lt; &gt;</a><b>\tx\t</b><c>one\ntwo</c><d> lead</d></r>");
    EXPECT_EQ(root->find("a")->value(), "<>");
    EXPECT_EQ(root->find("b")->value(), "\tx\t");
    EXPECT_EQ(root->find("c")->value(), "onetwo");
    EXPECT_EQ(root->find("d")->value(), " lead");
    auto crlf = parse("<r>\r\n  <v>text\r\n  </v>\r\n</r>");
    EXPECT_EQ(crlf->find("v")->value(), "text");
}

TEST(XmlParser, AttributesCommentsAndInstructionsVanish)
{
    auto root = parse("<?xml version=\"1.0\"?><r a=\"1\"><!-- c --><x k=\"v\">t</x><?pi x?></r>");
    Item* r = root->find("r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getchildren().size(), 1u);
    EXPECT_EQ(r->find("x")->value(), "t");
    EXPECT_EQ(root->find("a"), nullptr);
    EXPECT_EQ(root->find("k"), nullptr);
}

TEST(XmlParser, ErrorsKeepPartialTree)
{
    std::string err;
    auto root = parse("<r><a>1</a><b>2</r>", &err);
    EXPECT_EQ(err.rfind("XML error:", 0), 0u);
    EXPECT_EQ(root->find("a")->value(), "1");
    EXPECT_NE(root->find("b"), nullptr);

    auto empty = parse("", &err);
    EXPECT_EQ(err, "XML error:no element found");
    EXPECT_TRUE(empty->getchildren().empty());
}

TEST(XmlParser, BytesComeBackAsTheClientMeantThem)
{
    // Per-byte references of UTF-8, raw UTF-8 and a raw Latin-1 byte all survive.
    auto root = parse("<r><u>Zo&#195;&#171;</u><p>Zo\xc3\xab</p><l>caf\xe9</l>"
                      "<big>&#8364;</big><after>ok</after></r>");
    EXPECT_EQ(root->find("u")->value(), "Zo\xc3\xab");
    EXPECT_EQ(root->find("p")->value(), "Zo\xc3\xab");
    EXPECT_EQ(root->find("l")->value(), "caf\xe9");
    EXPECT_EQ(root->find("big")->value(), "\xe2\x82\xac");
    EXPECT_EQ(root->find("after")->value(), "ok");
}

TEST(XmlParser, DeepNestingIsCutNotOverflowed)
{
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    for (int i = 0; i < depth; ++i)
        text += "</a>";
    std::string err;
    auto root = parse(text, &err);
    EXPECT_EQ(err, "XML error:elements nested too deeply");
    int levels = 0;
    for (const Item* it = root.get(); !it->getchildren().empty(); it = it->getchildren()[0].get())
        ++levels;
    EXPECT_EQ(levels, kMaxItemDepth);
    EXPECT_EQ(root->find("missing"), nullptr);
    std::string xml = root->find("a")->toxml();
    EXPECT_GT(xml.size(), 1000u);
}

TEST(XmlParser, FloodOfElementsIsCutAtTheLimit)
{
    std::string text = "<client_state>";
    for (int i = 0; i < 1010; ++i)
        text += "<a><b/></a>";
    text += "</client_state>";
    std::string err;
    auto root = parsexml(text.data(), text.size(), err, 1000);
    EXPECT_EQ(err, "XML error:too many elements");
    ASSERT_EQ(root->getchildren().size(), 1u);
    Item* cs = root->getchildren()[0].get();
    EXPECT_EQ(cs->getchildren().size(), 500u); // 1 + 499 * 2 elements, and one more <a>
    EXPECT_EQ(cs->getchildren().back()->getchildren().size(), 0u);

    // Up to the limit everything is read, and without one there is none.
    text = "<client_state>";
    for (int i = 0; i < 999; ++i)
        text += "<a/>";
    text += "</client_state>";
    err.clear();
    root = parsexml(text.data(), text.size(), err, 1000);
    EXPECT_EQ(err, "");
    EXPECT_EQ(root->getchildren()[0]->getchildren().size(), 999u);
    root = parsexml(text.data(), text.size(), err);
    EXPECT_EQ(root->getchildren()[0]->getchildren().size(), 999u);
}

TEST(XmlParser, DestroysVeryDeepHandBuiltTree)
{
    auto root = std::make_unique<Item>("");
    Item* cur = root.get();
    for (int i = 0; i < 200000; ++i)
        cur = cur->addchild(std::make_unique<Item>("n"));
    EXPECT_EQ(root->find("zz"), nullptr);
    root.reset(); // must not recurse 200000 levels
    SUCCEED();
}

TEST(MaskBodyMarkup, MasksEachBodySeparately)
{
    std::string text = "<msgs><msg><body><![CDATA[\na <b>bold</b>\n]]></body><x>1</x></msg>"
                       "<msg><body>2 < 3</body></msg></msgs>";
    maskbodymarkup(&text[0], text.size());
    EXPECT_EQ(text, "<msgs><msg><body> ![CDATA[\na  b bold /b \n]] </body><x>1</x></msg>"
                    "<msg><body>2   3</body></msg></msgs>");
    std::string err;
    auto root = parse(text, &err);
    EXPECT_EQ(err, "");
    auto msgs = root->find("msgs")->children("msg");
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0]->find("body")->value(), " ![CDATA[a  b bold /b ]] ");
    EXPECT_EQ(msgs[0]->find("x")->value(), "1");
}

TEST(MaskBodyMarkup, UnpairedOrReversedTagsAreLeftAlone)
{
    std::string reversed = "</body><x>y</x><body>";
    std::string copy = reversed;
    maskbodymarkup(&reversed[0], reversed.size());
    EXPECT_EQ(reversed, copy);
    std::string open = "<body><i>no end";
    copy = open;
    maskbodymarkup(&open[0], open.size());
    EXPECT_EQ(open, copy);
}

TEST(XmlEscape, EscapesOnlyTheThreeMarkupCharacters)
{
    EXPECT_EQ(xmlescape("a&b<c>d\"e'"), "a&amp;b&lt;c&gt;d\"e'");
    Item it("pwd");
    it.setvalue("<&>");
    EXPECT_EQ(it.toxml(true), "<pwd>&lt;&amp;&gt;\n</pwd>\n");
}

TEST(XmlEscape, QuotedValuesReadBackUnchanged)
{
    const std::string values[] = {"p<a&s>s", "< >", " <lead", "trail> ", "a & b", "x]]>y",
                                  "]]> ", "cr\rin", "a\r b", "tab\t<", "&&&", "caf\xe9 <>",
                                  "plain text", "  two  blanks  ", "   ]d} > ", "x ]] < y"};
    for (const std::string& v : values) {
        std::string text = "<v>" + xmlquote(v) + "\n    </v>\n";
        std::string err;
        auto root = parsexml(text.data(), text.size(), err);
        EXPECT_EQ(err, "") << text;
        ASSERT_NE(root->find("v"), nullptr);
        EXPECT_EQ(root->find("v")->value(), v) << text;
    }
    EXPECT_EQ(xmlquote("p<a&s>s"), "p&lt;a&amp;s&gt;s");
    EXPECT_EQ(xmlquote("no markup"), "no markup");
}

// Carriage returns next to markup, and long values: every combination of a few
// awkward characters reads back as it was written. (Blanks that touch a carriage
// return form a blank-only piece of their own, which the reading rules drop.)
TEST(XmlEscape, AwkwardCombinationsReadBackUnchanged)
{
    const char alphabet[] = {' ', '<', '&', ']', '>', '\t', 'a', '\r'};
    std::vector<std::string> values = {std::string(1024, 'x') + " <", std::string(3000, 'y') + "  "};
    for (char a : alphabet)
        for (char b : alphabet)
            for (char c : alphabet)
                for (char d : alphabet)
                    values.push_back(std::string("a") + a + b + c + d);
    auto touching = [](const std::string& v) {
        return v.find(" \r") != std::string::npos || v.find("\r ") != std::string::npos;
    };
    values.erase(std::remove_if(values.begin(), values.end(), touching), values.end());
    for (const std::string& v : values) {
        std::string text = "<v>" + xmlquote(v) + "\n    </v>\n";
        std::string err;
        auto root = parsexml(text.data(), text.size(), err);
        ASSERT_EQ(err, "") << text;
        ASSERT_EQ(root->find("v")->value(), v) << text;
    }
}

// Characters that XML cannot hold would make the whole saved file unreadable.
TEST(XmlEscape, UnwritableControlCharactersAreLeftOut)
{
    std::string text = "<v>" + xmlquote("a\x01" "b\x1b[2J<c") + "</v>";
    std::string err;
    auto root = parsexml(text.data(), text.size(), err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(root->find("v")->value(), "ab[2J<c");
}

// Long runs of text are one piece: blanks inside or at the end of them are kept, also
// when the text holds bytes above 127.
TEST(ItemParse, LongRunsKeepTheirBlanks)
{
    for (const std::string& fill : {std::string(1024, 'x'), std::string(700, '\xe9')}) {
        std::string value = fill + "     ";
        std::string middle = "a" + std::string(2100, ' ') + "b" + fill;
        std::string text = "<r><v>" + value + "</v><w>" + middle + "</w></r>";
        std::string err;
        auto root = parsexml(text.data(), text.size(), err);
        EXPECT_EQ(err, "");
        EXPECT_EQ(root->find("v")->value(), value);
        EXPECT_EQ(root->find("w")->value(), middle);
        // The reading of a text the caller gives up gives the same tree.
        auto inplace = parsexmlinplace(text, err);
        EXPECT_EQ(inplace->toxml(), root->toxml());
    }
}

// A byte-order mark (editors add one) must not change how the other bytes read.
TEST(ItemParse, ByteOrderMarkIsSkipped)
{
    std::string text = "\xEF\xBB\xBF<r><pwd>p\xC3\xA4ss</pwd><l>caf\xe9</l></r>";
    std::string err;
    auto root = parsexml(text.data(), text.size(), err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(root->find("pwd")->value(), "p\xC3\xA4ss");
    EXPECT_EQ(root->find("l")->value(), "caf\xe9");
    auto inplace = parsexmlinplace(text, err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(inplace->toxml(), root->toxml());
}

// Numbers read the same as the C library reads them, bit for bit, whatever their form.
TEST(ItemTree, DoubleValueReadsLikeStrtod)
{
    std::vector<std::string> texts = {
        "0", "-0", "+0", "0.000000", "-0.000000", "1796793406.083613", "10797.493894",
        "9007199254740992", "9007199254740993", "123456789012345678", "1234567890123456789",
        "0.1", "0.3", "2.675", ".5", "-.5", "5.", ".", "-", "+", "", "1e5", "1.5E-3", "0x1A",
        "0x1p3", "inf", "-infinity", "nan", " 7.25", "\t8", "12.5.3", "12abc", "3 4",
        "0.0000000000000000000001", "0.00000000000000000000001", "1234567.0000000000000001",
        "99999999999999999999", "4.9406564584124654e-324", "1.7976931348623157e308",
        "00000000000000000000000012.5", "1000000000000000000000000",
    };
    // Random decimals in the client's shapes and around the limits of exactness.
    unsigned x = 2463534242u;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string t = next() % 4 == 0 ? "-" : "";
        int intdigits = static_cast<int>(next() % 20);
        for (int d = 0; d < intdigits; ++d)
            t += static_cast<char>('0' + next() % 10);
        if (next() % 3) {
            t += '.';
            int fracdigits = static_cast<int>(next() % 25);
            for (int d = 0; d < fracdigits; ++d)
                t += static_cast<char>('0' + next() % 10);
        }
        texts.push_back(t);
    }
    for (const std::string& t : texts) {
        Item it("n");
        it.setvalue(t);
        static locale_t clocale = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
        char* end = nullptr;
        double want = strtod_l(t.c_str(), &end, clocale);
        if (end == t.c_str())
            want = 0.0;
        double got = it.doublevalue();
        if (std::isnan(want)) {
            EXPECT_TRUE(std::isnan(got)) << t;
            continue;
        }
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << t << ": " << got << " != " << want;
    }
}

TEST(ItemTree, FindInTreesDeeperThanUsual)
{
    // Pre-order across many levels: the first match is the one on the leftmost path.
    auto root = std::make_unique<Item>("");
    Item* cur = root.get();
    std::vector<Item*> chain;
    for (int i = 0; i < 40; ++i) {
        Item* side = cur->addchild(std::make_unique<Item>("side"));
        side->addchild(std::make_unique<Item>("leaf" + std::to_string(i)));
        cur = cur->addchild(std::make_unique<Item>("level"));
        chain.push_back(cur);
    }
    cur->addchild(std::make_unique<Item>("bottom"));
    for (int i = 0; i < 40; ++i)
        chain[static_cast<size_t>(i)]->addchild(std::make_unique<Item>("after" + std::to_string(i)));
    EXPECT_EQ(root->find("bottom")->getparent(), chain.back());
    EXPECT_EQ(root->find("leaf39")->getparent()->getparent(), chain[38]);
    EXPECT_EQ(root->find("after0")->getparent(), chain[0]);
    EXPECT_EQ(root->find("after39")->getparent(), chain[39]);
    EXPECT_EQ(chain[20]->find("after39")->getparent(), chain[39]);
    EXPECT_EQ(chain[20]->find("leaf5"), nullptr);
    EXPECT_EQ(root->find("level"), chain[0]);
    EXPECT_EQ(root->find("nowhere"), nullptr);
}

// Names are kept once per spelling for the whole process; a peer that makes up endless
// names gets them kept by their elements instead, with the same results.
TEST(XmlParser, NamesOfEveryKindReadBack)
{
    std::string text = "<r>";
    for (int i = 0; i < 6000; ++i)
        text += "<n" + std::to_string(i) + ">" + std::to_string(i) + "</n" + std::to_string(i) + ">";
    text += "<\xe9t\xe9>x</\xe9t\xe9></r>"; // every byte comes back as sent
    std::string err;
    auto root = parse(text, &err);
    ASSERT_EQ(err, "");
    const Item* r = root->find("r");
    ASSERT_EQ(r->getchildren().size(), 6001u);
    for (int i = 0; i < 6000; i += 997) {
        const Item* n = r->find("n" + std::to_string(i));
        ASSERT_NE(n, nullptr) << i;
        EXPECT_EQ(n->value(), std::to_string(i));
        EXPECT_EQ(n->path(), "/r/n" + std::to_string(i));
    }
    EXPECT_EQ(r->find("\xe9t\xe9")->value(), "x");
    Item made("n5999");
    EXPECT_EQ(made.getname(), "n5999");
    EXPECT_EQ(Item("brand new name").getname(), "brand new name");
    EXPECT_EQ(r->children("n42").size(), 1u);
}

TEST(XmlParser, ParsesInSeveralThreadsAtOnce)
{
    auto work = [](int seed, int* bad) {
        for (int round = 0; round < 50; ++round) {
            std::string text = "<a><common>1</common><t" + std::to_string(seed) + "_" +
                               std::to_string(round) + ">v</t" + std::to_string(seed) + "_" +
                               std::to_string(round) + "></a>";
            std::string err;
            auto root = parsexml(text.data(), text.size(), err);
            const Item* mine = root->find("t" + std::to_string(seed) + "_" + std::to_string(round));
            if (!err.empty() || !root->find("common") || !mine || mine->value() != "v")
                ++*bad;
        }
    };
    int bad[4] = {0, 0, 0, 0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back(work, i, &bad[i]);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(bad[0] + bad[1] + bad[2] + bad[3], 0);
}
