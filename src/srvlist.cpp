#include "srvlist.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "config.h"

std::vector<std::string> SrvList::passwordfiles = {
    "/var/db/boinc/gui_rpc_auth.cfg",          // FreeBSD
    "/var/lib/boinc-client/gui_rpc_auth.cfg",  // Debian, Ubuntu
};

SrvList::SrvList()
{
    refill();
}

SrvList::~SrvList()
{
    clear();
}

std::string SrvList::readlocalpassword()
{
    for (const std::string& path : passwordfiles) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            continue;
        std::string password;
        std::ifstream in(path, std::ios::binary);
        if (in) {
            for (auto it = std::istreambuf_iterator<char>(in); it != std::istreambuf_iterator<char>();
                 ++it) {
                unsigned char c = static_cast<unsigned char>(*it);
                if (c >= 32 && c <= 127)
                    password += static_cast<char>(c);
            }
        }
        return password; // an unreadable file reads as empty
    }
    return std::string();
}

void SrvList::refill()
{
    clear();
    if (!gConfig)
        return;
    Item* cfg = gConfig->getcfgroot();
    if (!cfg)
        return;
    if (!gConfig->cmdhost.empty()) {
        if (gConfig->cmdpassword.empty() && gConfig->cmdhostislocal)
            gConfig->cmdpassword = readlocalpassword();
        servers.push_back(std::make_unique<Srv>(gConfig->cmdhost, gConfig->cmdport,
                                                gConfig->cmdpassword, std::string()));
    }
    for (Item* server : cfg->children("server")) {
        Item* host = server->find("host");
        Item* port = server->find("port");
        if (!host || !port)
            continue;
        Item* pwd = server->find("pwd");
        Item* hostid = server->find("hostid");
        servers.push_back(std::make_unique<Srv>(host->value(), port->value(),
                                                pwd ? pwd->value() : std::string(),
                                                hostid ? hostid->value() : std::string()));
    }
    if (!servers.empty()) {
        currentindex = 0;
        servers.front()->startthread();
    }
}

void SrvList::clear()
{
    // Ask every thread to stop first, so a list of stalled hosts ends in one wait, not many.
    for (auto& s : servers) {
        s->stopthread();
        s->abortio();
    }
    servers.clear();
    currentindex = -1;
}

Srv* SrvList::current() const
{
    if (currentindex < 0 || currentindex >= static_cast<int>(servers.size()))
        return nullptr;
    return servers[static_cast<size_t>(currentindex)].get();
}

void SrvList::moveby(int step)
{
    if (!current())
        return;
    int n = static_cast<int>(servers.size());
    setcurrent(((currentindex + step) % n + n) % n);
}

bool SrvList::setcurrent(int index)
{
    Srv* cur = current();
    if (!cur || index < 0 || index >= static_cast<int>(servers.size()))
        return false;
    cur->stopthread();
    currentindex = index;
    current()->startthread();
    return true;
}

void SrvList::next()
{
    moveby(1);
}

void SrvList::prev()
{
    moveby(-1);
}
