#include <gtest/gtest.h>

#include <string>

#include "item.h"
#include "statelookup.h"

namespace {

std::unique_ptr<Item> parse(const std::string& text)
{
    std::string err;
    return parsexml(text.data(), text.size(), err);
}

// Two projects that both call their app "worker", a workunit whose project has no app of
// that name, a workunit named twice, projects without a URL or a name.
const char kState[] =
    "<client_state>"
    "<project><master_url>http://a/</master_url><project_name>A</project_name></project>"
    "<app><name>worker</name><user_friendly_name>A worker</user_friendly_name></app>"
    "<workunit><name>wa</name><app_name>worker</app_name></workunit>"
    "<workunit><name>twice</name><app_name>none</app_name></workunit>"
    "<project><master_url>http://b/</master_url><project_name>B</project_name></project>"
    "<app><name>worker</name><user_friendly_name>B worker</user_friendly_name></app>"
    "<app><name>solo</name><user_friendly_name>B solo</user_friendly_name></app>"
    "<workunit><name>wb</name><app_name>worker</app_name></workunit>"
    "<workunit><name>twice</name><app_name>solo</app_name></workunit>"
    "<project><master_url>http://c/</master_url></project>"
    "<project><project_name>D</project_name></project>"
    "<project><master_url>http://a/</master_url><project_name>A2</project_name></project>"
    "<app><name>late</name><user_friendly_name>C late</user_friendly_name></app>"
    "<workunit><name>wc</name><app_name>solo</app_name></workunit>"
    "<result><name>r</name><project_url>http://b/</project_url></result>"
    "</client_state>";

std::string friendly(const Item* app)
{
    return app ? app->find("user_friendly_name")->value() : "(none)";
}

} // namespace

// The index that the task list builds per tick must answer exactly as the searches do.
TEST(StateLookupTest, IndexAgreesWithTheSearches)
{
    auto tree = parse(kState);
    const Item* cs = tree->find("client_state");
    StateIndex index(cs);
    const struct {
        const char* wu;
        const char* app;
    } apps[] = {
        {"wa", "A worker"}, {"wb", "B worker"}, {"twice", "B solo"}, {"wc", "B solo"}, {"nothing", "(none)"},
    };
    for (const auto& c : apps) {
        EXPECT_EQ(friendly(findapp(tree.get(), c.wu)), c.app) << c.wu;
        EXPECT_EQ(friendly(index.app(c.wu)), c.app) << c.wu;
    }
    const struct {
        const char* url;
        const char* name;
    } names[] = {{"http://a/", "A"}, {"http://b/", "B"}, {"http://c/", "???"}, {"", "???"}};
    for (const auto& c : names) {
        EXPECT_EQ(projectnamebyurl(tree.get(), c.url), c.name) << c.url;
        const std::string* n = index.projectname(c.url);
        EXPECT_EQ(n ? *n : std::string("???"), c.name) << c.url;
    }
    EXPECT_EQ(index.projectbyname("D"), findproject(tree.get(), "D"));
    EXPECT_EQ(index.projectbyname("E"), nullptr);
    EXPECT_EQ(projecturlbyname(tree.get(), "B"), "http://b/");
    Item* r = findresult(tree.get(), "http://b/", "r");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->getname(), "result");
    EXPECT_FALSE(findresult(tree.get(), "http://a/", "r"));
}

TEST(StateLookupTest, TreesWithoutAState)
{
    auto other = parse("<other/>");
    EXPECT_EQ(projectnamebyurl(other.get(), "x"), "ERR2");
    EXPECT_EQ(findapp(other.get(), "x"), nullptr);
    EXPECT_EQ(findresult(nullptr, "x", "y"), nullptr);
    StateIndex empty(nullptr);
    EXPECT_EQ(empty.app("x"), nullptr);
    EXPECT_EQ(empty.projectname("x"), nullptr);
}
