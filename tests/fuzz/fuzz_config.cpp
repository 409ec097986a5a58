// A configuration file of arbitrary bytes: what loads without error must come back
// equal after a save and a second load, and a file with errors is never overwritten.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "config.h"

namespace {

std::string home;

bool sametree(const Item* a, const Item* b)
{
    if (a->getname() != b->getname() || a->value() != b->value())
        return false;
    auto& ca = a->getchildren();
    auto& cb = b->getchildren();
    if (ca.size() != cb.size())
        return false;
    for (size_t i = 0; i < ca.size(); ++i)
        if (!sametree(ca[i].get(), cb[i].get()))
            return false;
    return true;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

static void removehome()
{
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnix-fuzz-config-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        abort();
    home = tmpl;
    setenv("HOME", home.c_str(), 1);
    atexit(removehome); // libFuzzer ends with exit()
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = home + "/.varnix.cfg";
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    Config first(".varnix.cfg");
    first.setintvalue("tasks_sort_mode", 4);
    first.save();
    if (!first.errortext.empty() || !first.getcfgroot()) {
        if (slurp(path) != text)
            __builtin_trap(); // a broken file was overwritten
        return 0;
    }
    Config second(".varnix.cfg");
    if (!second.errortext.empty() || !second.getcfgroot())
        __builtin_trap();
    if (!sametree(first.getcfgroot(), second.getcfgroot()))
        __builtin_trap();
    return 0;
}
