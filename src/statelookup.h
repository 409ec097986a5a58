// Lookups over a client's state tree ("client_state" with its projects, apps, workunits
// and results) and over its list of attachable projects: the one place that knows how
// these elements refer to each other. Every function works on a tree the caller holds;
// what it returns lives as long as that tree.
#ifndef VARNIX_STATELOOKUP_H
#define VARNIX_STATELOOKUP_H

#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>

class Item;

// The "state" numbers of a client's results from the end of the computation on.
enum ResultState { kComputeError = 3, kFilesUploaded = 5, kAborted = 6, kUploadFailed = 7 };

// The value of the direct child `name` of `parent`; the fallback when either is missing:
// its text; its number when that is finite; its integer, held to the range of int.
std::string textof(const Item* parent, std::string_view name);
double numberof(const Item* parent, std::string_view name, double fallback = 0);
int intof(const Item* parent, std::string_view name, int fallback = 0);

// First direct child of `parent` named `childname` whose own element `field` holds `value`.
Item* childbyvalue(const Item* parent, std::string_view childname, std::string_view field,
                   std::string_view value);

// "project_name" of the first project whose "master_url" is the URL: "???" when no project
// has it, "ERR2" for a tree without "client_state".
std::string projectnamebyurl(const Item* tree, const std::string& url);
// "master_url" of the first project of that name: "" when none has it, "ERR2" as above.
std::string projecturlbyname(const Item* tree, const std::string& name);
// The "project" element whose "project_name" is the name.
Item* findproject(const Item* tree, const std::string& name);
// The "app" element that the named workunit uses: an app of the workunit's own project
// (the elements from its "project" up to the next one) first, then any app of that name.
Item* findapp(const Item* tree, const std::string& wuname);
// The first "result" with that "project_url" and "name".
Item* findresult(const Item* tree, const std::string& projecturl, const std::string& name);

// The same lookups for every project and workunit at once, for a reader that asks them for
// thousands of tasks per tick. Keys and values point into the tree.
class StateIndex {
public:
    explicit StateIndex(const Item* clientstate);

    // The project's name as the client sent it, null when no project has the URL.
    const std::string* projectname(std::string_view url) const;
    // The "project" element with that "project_name", null when none has it.
    const Item* projectbyname(std::string_view name) const;
    // What findapp gives, null when the workunit or its app is unknown.
    const Item* app(std::string_view wuname) const;
    // The "app" of that name of the project with that master URL (the elements from its
    // "project" up to the next one); null when that project has none of that name.
    const Item* projectapp(std::string_view url, std::string_view appname) const;

private:
    template <typename V>
    using Map = std::pmr::unordered_map<std::string_view, V>;

    // The maps' nodes come from one pool that goes with the index: thousands of them are
    // made and dropped on every tick.
    mutable std::pmr::monotonic_buffer_resource pool;
    Map<const std::string*> names{&pool}; // master URL -> name
    Map<const Item*> projects{&pool};     // name -> project
    const Item* clientstate;
    mutable bool appsindexed = false;
    mutable Map<const Item*> apps{&pool}; // workunit -> app
    mutable bool appnamesindexed = false;
    mutable std::pmr::unordered_map<std::pmr::string, const Item*> ownapps{&pool}; // url \n name -> app
};

#endif
