#include "statelookup.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "item.h"

namespace {

const Item* clientstateof(const Item* tree)
{
    return tree ? tree->find("client_state") : nullptr;
}

// Value of `want` in the first project whose `key` holds `value` (both present).
std::string projectfield(const Item* tree, std::string_view key, const std::string& value,
                         std::string_view want, const char* nomatch)
{
    const Item* cs = clientstateof(tree);
    if (!cs)
        return "ERR2";
    for (const auto& p : cs->getchildren()) {
        if (p->getname() != "project")
            continue;
        const Item* k = p->child(key);
        const Item* w = p->child(want);
        if (k && w && k->value() == value)
            return w->value();
    }
    return nomatch;
}

// Calls fn(workunit, app) for every workunit of the state with a known app, in the order
// of the state; an app of the workunit's own project is preferred over any app.
template <typename Fn>
void eachworkunitapp(const Item* cs, Fn fn)
{
    const auto& all = cs->getchildren();
    // Apps by name: of each project's block (from a "project" to the next), and of all.
    using AppMap = std::pmr::unordered_map<std::string_view, const Item*>;
    std::pmr::monotonic_buffer_resource pool;
    std::pmr::vector<size_t> block(all.size(), 0, &pool);
    std::pmr::vector<AppMap> blockapps(&pool);
    blockapps.emplace_back();
    AppMap anyapp(&pool);
    for (size_t i = 0; i < all.size(); ++i) {
        const Item* c = all[i].get();
        if (c->getname() == "project" && i > 0)
            blockapps.emplace_back();
        block[i] = blockapps.size() - 1;
        if (c->getname() != "app")
            continue;
        if (const Item* name = c->child("name")) {
            blockapps.back().emplace(name->value(), c);
            anyapp.emplace(name->value(), c);
        }
    }
    for (size_t i = 0; i < all.size(); ++i) {
        const Item* wu = all[i].get();
        if (wu->getname() != "workunit")
            continue;
        const Item* name = wu->child("name");
        const Item* appname = name ? wu->child("app_name") : nullptr;
        if (!appname)
            continue;
        const auto& own = blockapps[block[i]];
        auto hit = own.find(appname->value());
        if (hit == own.end()) {
            hit = anyapp.find(appname->value());
            if (hit == anyapp.end())
                continue; // a later workunit of that name may still name a known app
        }
        if (!fn(name->value(), hit->second))
            return;
    }
}

} // namespace

std::string textof(const Item* parent, std::string_view name)
{
    const Item* it = parent ? parent->child(name) : nullptr;
    return it ? it->value() : std::string();
}

double numberof(const Item* parent, std::string_view name, double fallback)
{
    const Item* it = parent ? parent->child(name) : nullptr;
    if (!it)
        return fallback;
    const double v = it->doublevalue();
    return std::isfinite(v) ? v : fallback;
}

int intof(const Item* parent, std::string_view name, int fallback)
{
    const Item* it = parent ? parent->child(name) : nullptr;
    if (!it)
        return fallback;
    const long long v = std::strtoll(it->value().c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

Item* childbyvalue(const Item* parent, std::string_view childname, std::string_view field,
                   std::string_view value)
{
    if (!parent)
        return nullptr;
    for (const auto& c : parent->getchildren()) {
        if (c->getname() != childname)
            continue;
        const Item* f = c->child(field);
        if (f && f->value() == value)
            return c.get();
    }
    return nullptr;
}

std::string projectnamebyurl(const Item* tree, const std::string& url)
{
    return projectfield(tree, "master_url", url, "project_name", "???");
}

std::string projecturlbyname(const Item* tree, const std::string& name)
{
    return projectfield(tree, "project_name", name, "master_url", "");
}

Item* findproject(const Item* tree, const std::string& name)
{
    return childbyvalue(clientstateof(tree), "project", "project_name", name);
}

Item* findapp(const Item* tree, const std::string& wuname)
{
    const Item* cs = clientstateof(tree);
    const Item* found = nullptr;
    if (cs)
        eachworkunitapp(cs, [&](const std::string& wu, const Item* app) {
            if (wu != wuname)
                return true;
            found = app;
            return false;
        });
    return const_cast<Item*>(found);
}

Item* findresult(const Item* tree, const std::string& projecturl, const std::string& name)
{
    const Item* cs = clientstateof(tree);
    if (!cs)
        return nullptr;
    for (const auto& r : cs->getchildren()) {
        if (r->getname() != "result")
            continue;
        const Item* url = r->child("project_url");
        const Item* n = r->child("name");
        if (url && n && url->value() == projecturl && n->value() == name)
            return r.get();
    }
    return nullptr;
}

StateIndex::StateIndex(const Item* cs) : clientstate(cs)
{
    if (!cs)
        return;
    for (const auto& p : cs->getchildren()) {
        if (p->getname() != "project")
            continue;
        const Item* name = p->child("project_name");
        if (!name)
            continue;
        projects.emplace(name->value(), p.get());
        if (const Item* url = p->child("master_url"))
            names.emplace(url->value(), &name->value());
    }
}

const std::string* StateIndex::projectname(std::string_view url) const
{
    auto it = names.find(url);
    return it == names.end() ? nullptr : it->second;
}

const Item* StateIndex::projectbyname(std::string_view name) const
{
    auto it = projects.find(name);
    return it == projects.end() ? nullptr : it->second;
}

const Item* StateIndex::app(std::string_view wuname) const
{
    // Made on the first question: readers that ask only for projects need no workunits.
    if (!appsindexed && clientstate) {
        apps.reserve(clientstate->getchildren().size() / 2);
        eachworkunitapp(clientstate, [this](const std::string& wu, const Item* app) {
            apps.emplace(wu, app); // the first workunit of a name wins, as in a search
            return true;
        });
    }
    appsindexed = true;
    auto it = apps.find(wuname);
    return it == apps.end() ? nullptr : it->second;
}

const Item* StateIndex::projectapp(std::string_view url, std::string_view appname) const
{
    if (!appnamesindexed && clientstate) {
        std::string_view owner; // master URL of the project whose block this is
        for (const auto& c : clientstate->getchildren()) {
            if (c->getname() == "project") {
                const Item* u = c->child("master_url");
                owner = u ? std::string_view(u->value()) : std::string_view();
                continue;
            }
            if (c->getname() != "app")
                continue;
            const Item* name = c->child("name");
            if (!name)
                continue;
            std::pmr::string key(owner, &pool);
            key += '\n';
            key += name->value();
            ownapps.emplace(std::move(key), c.get());
        }
    }
    appnamesindexed = true;
    // From the heap, not the index's pool, which would keep every question's key.
    std::pmr::string key(url, std::pmr::get_default_resource());
    key += '\n';
    key += appname;
    auto own = ownapps.find(key);
    return own == ownapps.end() ? nullptr : own->second;
}
