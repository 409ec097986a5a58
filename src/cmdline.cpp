#include "cmdline.h"

#include <getopt.h>
#include <netdb.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <string>

#include "config.h"

const char* const kUsageText =
    "\n"
    "\n"
    "usage: \n"
    "  varnix [--help] [--boinchost=<boinc_host_ip>:<boinc_icp_port>] [--pwd=<boinc_password>]\n"
    "\n"
    "    -b, --boinchost      ip address and port of boinc server host\n"
    "    -p, --pwd            boinc password\n"
    "    -h, --help           print this help and exit\n"
    "\n"
    "examples: \n"
    "  varnix --boinchost=192.168.1.123 --pwd=your_passwd -default port 31416 is used\n"
    "  varnix --boinchost=192.168.1.123:31416             -connect with empty password\n"
    "  varnix --boinchost=localhost                       -connect to localhost with defaul port and\n"
    "                                                        password from /var/lib/boinc-client/gui_rpc_auth.cfg";

namespace {

// Every IPv4 address of the host joined with ",", in resolver order; false when unresolvable.
bool addresslist(const std::string& host, std::string& out)
{
    struct addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return false;
    out.clear();
    for (struct addrinfo* ai = res; ai; ai = ai->ai_next) {
        char buf[INET_ADDRSTRLEN];
        auto* sin = reinterpret_cast<struct sockaddr_in*>(ai->ai_addr);
        if (!inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf))
            continue;
        if (!out.empty())
            out += ",";
        out += buf;
    }
    freeaddrinfo(res);
    return true;
}

void sethost(Config& cfg, const char* arg)
{
    cfg.cmdhost = arg;
    size_t colon = cfg.cmdhost.rfind(':');
    if (colon != std::string::npos) {
        cfg.cmdport = cfg.cmdhost.substr(colon + 1);
        cfg.cmdhost.erase(colon);
    }
    std::string addrs;
    if (!addresslist(cfg.cmdhost, addrs)) {
        printf("cat't resolve gethostbyname");
        addrs.clear();
    }
    cfg.cmdhostislocal = addrs.find("127.0.0.1") != std::string::npos;
    printf("boinc server '%s' %s %s\n", cfg.cmdhost.c_str(),
           addrs == cfg.cmdhost ? "" : addrs.c_str(), cfg.cmdhostislocal ? "(local host)" : "");
    printf("boinc server TCP port '%s'\n", cfg.cmdport.c_str());
}

} // namespace

bool parsecmdline(int argc, char** argv, Config& cfg, int& status)
{
    static const struct option longopts[] = {
        {"help", no_argument, nullptr, 'h'},
        {"boinchost", required_argument, nullptr, 'b'},
        {"pwd", required_argument, nullptr, 'p'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    bool start = true;
    status = 0;
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, "hb:p:V", longopts, nullptr)) != -1) {
        switch (c) {
        case 'h':
            puts(kUsageText);
            start = false;
            break;
        case 'p':
            cfg.cmdpassword = optarg;
            break;
        case 'V':
            printf("varnix %s\n", kVarnixVersion);
            start = false;
            break;
        case 'b':
            sethost(cfg, optarg);
            break;
        default:
            // getopt_long has printed its diagnostic already.
            start = false;
            status = 1;
            break;
        }
    }
    fflush(stdout);
    return start;
}
