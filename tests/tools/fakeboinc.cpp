// fakeboinc: the fake GUI RPC server as a program of its own, for end-to-end tests.
// Prints the port it listens on as its first line, then takes commands on stdin.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#include <algorithm>

#include "fakeserver.h"

namespace {

const char kHelp[] =
    "usage: fakeboinc [options]\n"
    "A scriptable stand-in for a BOINC client's GUI RPC port on 127.0.0.1.\n"
    "The first line printed is the port number it listens on (one line per server\n"
    "with --servers).\n"
    "\n"
    "options:\n"
    "  --port N             listen on port N (default 0: any free port)\n"
    "  --servers N          run N such servers alike, each on a port of its own (from\n"
    "                       N up with --port); commands go to all, counts add up\n"
    "  --password PW        GUI RPC password (default empty: no login needed)\n"
    "  --password-file F    take the password from file F (bytes 32..127)\n"
    "  --replies DIR        folder of NAME.xml reply texts, re-read on every request\n"
    "                       (default: the fixtures of the source tree)\n"
    "  --log FILE           append every request to FILE, one JSON object per line:\n"
    "                       {\"seq\": N, \"conn\": N, \"name\": \"get_state\", \"body\": \"...\"}\n"
    "  --refuse-login       refuse every login\n"
    "  --no-auth            answer every request without a login\n"
    "  --fault KIND:NAME    misbehave on every request NAME (\"*\": all requests);\n"
    "                       KIND: stall, stall-mid, close-mid, chunks, garbage, close,\n"
    "                       huge (a generated state reply of --huge-size bytes)\n"
    "  --chunk-size N       bytes per piece for the chunks fault (default 3)\n"
    "  --huge-size N        bytes of the huge reply (default 314572800: 300 MB)\n"
    "  --messages N         start with N messages in the message log\n"
    "  --no-stdin           take no commands; run until SIGTERM or SIGINT\n"
    "  -h, --help           show this text\n"
    "\n"
    "commands on standard input, one per line, each answered with \"ok\" or \"error: ...\":\n"
    "  msg BODY                  append a message without project\n"
    "  msg PROJECT<TAB>BODY      append a message of a project\n"
    "  restart                   empty the message log; numbering starts at 1 again\n"
    "  notice TITLE<TAB>DESCRIPTION[<TAB>PROJECT[<TAB>LINK]]\n"
    "                            publish a notice (no project: category \"client\")\n"
    "  notices-reset             the next get_notices answer starts the list anew (-1)\n"
    "  notices-restart           forget every notice; numbering starts at 1 again\n"
    "  fault KIND NAME [COUNT]   misbehave on the next COUNT requests NAME (default: all)\n"
    "  clearfaults               behave again\n"
    "  refuse-login on|off       refuse or accept logins\n"
    "  password PW               change the password (empty when PW is missing)\n"
    "  reply NAME CONTENT        answer NAME with CONTENT from now on (one line)\n"
    "  queue NAME CONTENT        answer the next NAME with CONTENT once\n"
    "  unreply NAME              forget a reply set by \"reply\"\n"
    "  drop                      close every client connection\n"
    "  count NAME                print the number of requests NAME so far\n"
    "  quit                      end the program\n"
    "End of standard input ends the program too (unless --no-stdin).\n";

volatile sig_atomic_t gQuit = 0;

void onsignal(int)
{
    gQuit = 1;
}

std::string printable(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string out;
    char c;
    while (in.get(c))
        if (static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127)
            out += c;
    return out;
}

bool addfault(FakeServer& server, const std::string& kind, const std::string& name, int count,
              std::string& error)
{
    bool ok;
    Fault f = faultbyname(kind, ok);
    if (!ok || name.empty()) {
        error = "unknown fault " + kind;
        return false;
    }
    server.setfault(name, f, count);
    return true;
}

std::string command(FakeServer& server, const std::string& line, bool& quit, size_t& counted)
{
    std::string word, rest;
    size_t sp = line.find(' ');
    word = line.substr(0, sp);
    if (sp != std::string::npos)
        rest = line.substr(sp + 1);
    auto split = [](const std::string& s, std::string& head, std::string& tail) {
        size_t p = s.find(' ');
        head = s.substr(0, p);
        tail = p == std::string::npos ? std::string() : s.substr(p + 1);
    };
    std::string a, b;
    if (word == "msg") {
        size_t tab = rest.find('\t');
        if (tab == std::string::npos)
            server.addmessage(rest);
        else
            server.addmessage(rest.substr(tab + 1), rest.substr(0, tab));
    } else if (word == "restart") {
        server.restartmessages();
    } else if (word == "notice") {
        std::vector<std::string> parts;
        size_t from = 0;
        for (;;) {
            size_t tab = rest.find('\t', from);
            parts.push_back(rest.substr(from, tab == std::string::npos ? tab : tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        parts.resize(std::max<size_t>(parts.size(), 4));
        server.addnotice(parts[0], parts[1], parts[2], parts[2].empty() ? "client" : "", parts[3]);
    } else if (word == "notices-reset") {
        server.resetnotices();
    } else if (word == "notices-restart") {
        server.restartnotices();
    } else if (word == "fault") {
        std::istringstream in(rest);
        std::string kind, name;
        int count = -1;
        in >> kind >> name;
        if (!(in >> count))
            count = -1;
        std::string error;
        if (!addfault(server, kind, name, count, error))
            return "error: " + error;
    } else if (word == "clearfaults") {
        server.clearfaults();
    } else if (word == "refuse-login") {
        server.setrefuselogin(rest == "on");
    } else if (word == "password") {
        server.setpassword(rest);
    } else if (word == "reply" || word == "queue") {
        split(rest, a, b);
        if (a.empty())
            return "error: no request name";
        if (word == "reply")
            server.setreply(a, b);
        else
            server.queuereply(a, b);
    } else if (word == "unreply") {
        server.clearreply(rest);
    } else if (word == "drop") {
        server.dropconnections();
    } else if (word == "count") {
        counted += server.countof(rest);
    } else if (word == "quit") {
        quit = true;
    } else if (!word.empty()) {
        return "error: unknown command " + word;
    }
    return "ok";
}

} // namespace

int main(int argc, char** argv)
{
    static const option longopts[] = {
        {"port", required_argument, nullptr, 'P'},
        {"servers", required_argument, nullptr, 'S'},
        {"password", required_argument, nullptr, 'w'},
        {"password-file", required_argument, nullptr, 'W'},
        {"replies", required_argument, nullptr, 'r'},
        {"log", required_argument, nullptr, 'l'},
        {"refuse-login", no_argument, nullptr, 'R'},
        {"no-auth", no_argument, nullptr, 'A'},
        {"fault", required_argument, nullptr, 'f'},
        {"chunk-size", required_argument, nullptr, 'c'},
        {"huge-size", required_argument, nullptr, 'H'},
        {"messages", required_argument, nullptr, 'm'},
        {"no-stdin", no_argument, nullptr, 'n'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int port = 0, messages = 0, nservers = 1;
    size_t chunk = 3;
    size_t hugesize = size_t(300) << 20;
    bool refuse = false, noauth = false, usestdin = true;
    std::string password, replies, logfile;
    std::vector<std::string> faults;
    int c;
    while ((c = getopt_long(argc, argv, "h", longopts, nullptr)) != -1) {
        switch (c) {
        case 'P': port = atoi(optarg); break;
        case 'S': nservers = atoi(optarg); break;
        case 'w': password = optarg; break;
        case 'W': password = printable(optarg); break;
        case 'r': replies = optarg; break;
        case 'l': logfile = optarg; break;
        case 'R': refuse = true; break;
        case 'A': noauth = true; break;
        case 'f': faults.push_back(optarg); break;
        case 'c': chunk = static_cast<size_t>(atol(optarg)); break;
        case 'H': hugesize = static_cast<size_t>(atoll(optarg)); break;
        case 'm': messages = atoi(optarg); break;
        case 'n': usestdin = false; break;
        case 'h': fputs(kHelp, stdout); return 0;
        default: fputs(kHelp, stderr); return 2;
        }
    }

    // A test harness that dies must not leave us behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    struct sigaction sa = {};
    sa.sa_handler = onsignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (nservers < 1 || nservers > 1000) {
        fputs("fakeboinc: --servers takes 1 to 1000\n", stderr);
        return 2;
    }
    std::vector<std::unique_ptr<FakeServer>> servers;
    for (int i = 0; i < nservers; ++i) {
        const int p = port ? port + i : 0;
        servers.push_back(std::make_unique<FakeServer>(password, p));
        FakeServer& server = *servers.back();
        if (!server.listening()) {
            fprintf(stderr, "fakeboinc: cannot listen on 127.0.0.1:%d\n", p);
            return 1;
        }
        if (!replies.empty())
            server.setreplydir(replies);
        if (!logfile.empty())
            server.setlogfile(logfile);
        server.setrefuselogin(refuse);
        server.setrequireauth(!noauth);
        server.setchunksize(chunk);
        server.sethugesize(hugesize);
        for (int m = 1; m <= messages; ++m)
            server.addmessage("Message number " + std::to_string(m), m % 3 ? "" : "Alpha@Home");
        for (const std::string& f : faults) {
            size_t colon = f.find(':');
            std::string error;
            if (colon == std::string::npos ||
                !addfault(server, f.substr(0, colon), f.substr(colon + 1), -1, error)) {
                fprintf(stderr, "fakeboinc: bad --fault %s\n", f.c_str());
                return 2;
            }
        }
    }
    for (const auto& server : servers)
        printf("%d\n", server->port());
    fflush(stdout);

    std::string pending;
    bool quit = false;
    while (!quit && !gQuit) {
        if (!usestdin) {
            usleep(100000);
            continue;
        }
        pollfd p = {0, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[4096];
        ssize_t n = read(0, buf, sizeof buf);
        if (n <= 0)
            break; // the controlling program has gone
        pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while (!quit && (nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string answer;
            size_t counted = 0;
            for (const auto& server : servers) {
                answer = command(*server, line, quit, counted);
                if (answer != "ok")
                    break;
            }
            if (answer == "ok" && line.compare(0, 6, "count ") == 0)
                answer = "ok " + std::to_string(counted);
            printf("%s\n", answer.c_str());
            fflush(stdout);
        }
    }
    for (const auto& server : servers)
        server->stop();
    return 0;
}
