#include "tempdir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <ftw.h>
#include <unistd.h>

TempDir::TempDir()
{
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/varnix-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

static int removeentry(const char* p, const struct stat*, int, struct FTW*)
{
    return remove(p);
}

TempDir::~TempDir()
{
    nftw(path_.c_str(), removeentry, 16, FTW_DEPTH | FTW_PHYS);
}

const char kFirstStartConfig[] =
    "<varnix_cfg>\n"
    "    <server>\n"
    "        <host>127.0.0.1\n"
    "        </host>\n"
    "        <port>31416\n"
    "        </port>\n"
    "        <hostid>Local Server\n"
    "        </hostid>\n"
    "    </server>\n"
    "</varnix_cfg>\n";

std::string readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writefile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    const char* old = getenv(name);
    if (old) {
        had_ = true;
        old_ = old;
    }
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}
