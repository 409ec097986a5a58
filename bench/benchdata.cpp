#include "benchdata.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "srv.h"

std::string benchdatadir()
{
    const char* env = getenv("VARNIX_BENCH_DATA");
    return env && *env ? env : VARNIX_BENCH_DATA;
}

const std::string& benchreply(const std::string& set, const std::string& file)
{
    static std::mutex lock;
    static std::map<std::string, std::string> cache;
    std::lock_guard<std::mutex> hold(lock);
    std::string path = benchdatadir() + "/" + set + "/" + file;
    auto it = cache.find(path);
    if (it != cache.end())
        return it->second;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "varnix_bench: missing data file %s\n", path.c_str());
        exit(2);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return cache.emplace(path, text.str()).first->second;
}

std::unique_ptr<Item> benchtree(const std::string& set, const std::string& file)
{
    const std::string& text = benchreply(set, file);
    std::string error;
    return parsexml(text.data(), text.size(), error);
}

std::unique_ptr<Srv> benchhost(const std::string& set)
{
    // Port 0 is never connected to: nothing here starts the update thread.
    auto srv = std::make_unique<Srv>("127.0.0.1", "0", "", "bench");
    srv->statesnapshots.push(benchtree(set, "get_state.xml"));
    srv->diskusagesnapshots.push(benchtree(set, "get_disk_usage.xml"));
    srv->statisticssnapshots.push(benchtree(set, "get_statistics.xml"));
    return srv;
}
