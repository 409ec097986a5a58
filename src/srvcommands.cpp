// The Srv operations that change something on a client.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "srv.h"

const char* const Srv::kInputTooLong = "input too long";
const char* const Srv::kNotSupported = "not supported by this client";

namespace {

// A client job still in progress: poll again.
constexpr int kInProgress = -204;
constexpr int kMaxPolls = 31;

std::string formattext(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string formattext(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    int n = vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        vsnprintf(buf.data(), buf.size(), fmt, again);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

// Whether a request body still fits the request limit once wrapped in the envelope.
bool fits(const std::string& body)
{
    static const size_t envelope = strlen("<boinc_gui_rpc_request>\n") +
                                   strlen("\n</boinc_gui_rpc_request>\n") + 1;
    return body.size() + envelope <= TConnect::kMaxRequest;
}

// The client reads the values as XML: escape them so they arrive intact and cannot
// add elements of their own.
std::string esc(const std::string& s)
{
    return xmlescape(s);
}

int errornum(const Item* reply, bool& present)
{
    Item* e = reply->find("error_num");
    present = e != nullptr;
    return e ? e->intvalue() : 0;
}

// The client's own text of a failed job, or what its number means when it sends none.
std::string jobfailure(const Item* reply, const char* textname, int num)
{
    const Item* text = reply->find(textname);
    if (text && !text->value().empty())
        return text->value();
    return accounterrortext(num);
}

} // namespace

const char* accounterrormeaning(int num)
{
    static const struct {
        int num;
        const char* meaning;
    } meanings[] = {
        {-107, "cannot connect"},
        {-113, "host name not found"},
        {-130, "already attached"},
        {-136, "no such account"},
        {-137, "not unique"},
        {-183, "project down"},
        {-184, "temporary HTTP error"},
        {-188, "bad user name"},
        {-189, "invalid URL"},
        {-205, "bad e-mail address"},
        {-206, "wrong password"},
        {-207, "e-mail already in use"},
        {-208, "account creation disabled"},
        {-224, "permanent HTTP error"},
    };
    for (const auto& m : meanings)
        if (m.num == num)
            return m.meaning;
    return nullptr;
}

std::string accounterrortext(int num)
{
    std::string text = std::to_string(num);
    if (const char* meaning = accounterrormeaning(num))
        text += std::string(" (") + meaning + ")";
    return text;
}

void Srv::pollwait()
{
    usleep(static_cast<useconds_t>(pollwaitus.load()));
}

void Srv::setrunmode(const std::string& mode)
{
    request("<set_run_mode><%s/><duration>0</duration></set_run_mode>", mode.c_str());
    forceccstatus = true;
}

void Srv::setnetworkmode(const std::string& mode)
{
    request("<set_network_mode><%s/><duration>0</duration></set_network_mode>", mode.c_str());
    forceccstatus = true;
}

void Srv::setgpumode(const std::string& mode)
{
    request("<set_gpu_mode><%s/><duration>0</duration></set_gpu_mode>", mode.c_str());
    forceccstatus = true;
}

void Srv::opresult(const std::string& projecturl, const std::string& name, const std::string& tag)
{
    request("<%s>\n<project_url>%s</project_url>\n<name>%s</name>\n</%s>", tag.c_str(),
            esc(projecturl).c_str(), esc(name).c_str(), tag.c_str());
}

void Srv::opproject(const std::string& projectname, const std::string& tag)
{
    Snapshot state(statesnapshots);
    if (!state)
        return;
    std::string url = projecturlbyname(state.get(), projectname);
    request("<%s>\n<project_url>%s</project_url>\n</%s>", tag.c_str(), esc(url).c_str(),
            tag.c_str());
}

void Srv::runbenchmarks()
{
    request("<run_benchmarks/>");
}

void Srv::updateallprojectslist()
{
    allprojectstree.reset();
    allprojectstree = request("<get_all_projects_list/>");
}

bool Srv::getprojectconfig(const std::string& url)
{
    std::string body = formattext("<get_project_config>\n<url>%s</url></get_project_config>\n",
                                  esc(url).c_str());
    if (!fits(body) || !request("%s", body.c_str()))
        return false;
    for (int i = 1; i <= kMaxPolls; ++i) {
        auto reply = request("<get_project_config_poll/>");
        if (!reply)
            return false;
        bool haserror;
        int err = errornum(reply.get(), haserror);
        if (!haserror)
            return reply->find("project_config") != nullptr;
        if (err != kInProgress || i == kMaxPolls)
            return false;
        pollwait();
    }
    return false;
}

bool Srv::createaccount(const std::string& url, const std::string& email,
                        const std::string& password_, const std::string& username,
                        const std::string& teamname, std::string& errortext)
{
    std::string body = formattext(
        "<create_account>\n   <url>%s</url>\n   <email_addr>%s</email_addr>\n"
        "   <passwd_hash>%s</passwd_hash>\n   <user_name>%s</user_name>\n"
        "   <team_name>%s</team_name>\n</create_account>\n",
        esc(url).c_str(), esc(email).c_str(), md5hex(password_, email).c_str(),
        esc(username).c_str(), esc(teamname).c_str());
    if (!fits(body)) {
        errortext = kInputTooLong;
        return false;
    }
    if (!request("%s", body.c_str()))
        return false;
    for (int i = 1; i <= kMaxPolls; ++i) {
        auto reply = request("<create_account_poll/>");
        if (!reply)
            return false;
        bool haserror;
        int err = errornum(reply.get(), haserror);
        if (haserror && err != kInProgress) {
            errortext = jobfailure(reply.get(), "error_msg", err);
            return false;
        }
        bool created = reply->find("authenticator") != nullptr;
        reply.reset();
        pollwait();
        if (created)
            return true;
    }
    // No outcome after all the polls is a failure, not a success.
    errortext = "error timeout";
    return false;
}

bool Srv::projectattach(const std::string& url, const std::string& projectname,
                        const std::string& email, const std::string& password_,
                        std::string& errortext)
{
    const char* attachfmt = "<project_attach>\n<project_url>%s</project_url>\n"
                            "<authenticator>%s</authenticator>\n<project_name>%s</project_name>\n"
                            "</project_attach>\n";
    std::string lookup = formattext(
        "<lookup_account>\n<url>%s</url>\n<email_addr>%s</email_addr>\n"
        "<passwd_hash>%s</passwd_hash>\n</lookup_account>\n",
        esc(url).c_str(), esc(email).c_str(), md5hex(password_, email).c_str());
    // Refuse before anything is sent when the attach text could not hold these values.
    if (!fits(lookup) || !fits(formattext(attachfmt, esc(url).c_str(), "",
                                          esc(projectname).c_str()))) {
        errortext = kInputTooLong;
        return false;
    }
    if (!request("%s", lookup.c_str()))
        return false;
    std::string authenticator;
    for (int i = 1;; ++i) {
        auto reply = request("<lookup_account_poll/>");
        if (!reply)
            return false;
        bool haserror;
        int err = errornum(reply.get(), haserror);
        if (haserror && err != kInProgress) {
            errortext += jobfailure(reply.get(), "error_msg", err) + " ";
            return false;
        }
        Item* auth = reply->find("authenticator");
        bool found = auth != nullptr;
        if (found)
            authenticator = auth->value();
        reply.reset();
        pollwait();
        if (i >= kMaxPolls) {
            errortext = "error timeout";
            return false;
        }
        if (found)
            break;
    }
    std::string attach = formattext(attachfmt, esc(url).c_str(), esc(authenticator).c_str(),
                                    esc(projectname).c_str());
    if (!fits(attach)) {
        errortext = kInputTooLong;
        return false;
    }
    auto reply = request("%s", attach.c_str());
    if (!reply)
        return false;
    const bool attached = reply->find("success") != nullptr;
    if (Item* error = reply->find("error")) {
        errortext += error->value();
    } else if (!attached) {
        // A refusal by number alone still says why.
        bool haserror;
        int err = errornum(reply.get(), haserror);
        if (haserror)
            errortext += accounterrortext(err);
    }
    return attached;
}

bool Srv::accountmanager(const std::string& url, const std::string& name,
                         const std::string& password_, bool useconfigfile, std::string& errortext)
{
    std::string body = useconfigfile
        ? std::string("<acct_mgr_rpc>\n<use_config_file/>\n</acct_mgr_rpc>\n")
        : formattext("<acct_mgr_rpc>\n<url>%s</url>\n<name>%s</name>\n<password>%s</password>\n"
                     "</acct_mgr_rpc>\n",
                     esc(url).c_str(), esc(name).c_str(), esc(password_).c_str());
    std::string config = formattext(
        "<get_project_config>\n<url>%s</url></get_project_config>\n", esc(url).c_str());
    if (!fits(body) || (!url.empty() && !fits(config))) {
        errortext = kInputTooLong;
        return false;
    }
    if (!url.empty() && !getprojectconfig(url)) {
        errortext = "Can't get config";
        return false;
    }
    if (!request("%s", body.c_str()))
        return false;
    bool accepted = false;
    for (int i = 1; i <= kMaxPolls && !accepted; ++i) {
        auto reply = request("<acct_mgr_rpc_poll/>");
        if (!reply)
            return false;
        bool haserror;
        int err = errornum(reply.get(), haserror);
        if (!haserror)
            continue;
        if (err == 0) {
            accepted = true;
        } else if (err == kInProgress) {
            pollwait();
        } else {
            errortext = jobfailure(reply.get(), "message", err);
            return false;
        }
    }
    acctmgrinfosnapshots.refreshpending = true;
    pollwait();
    return accepted;
}

SrvAnswer answerof(const Item* reply)
{
    SrvAnswer a;
    if (!reply) {
        a.text = "no answer from the client";
        return a;
    }
    a.kind = SrvAnswer::error;
    if (Item* e = reply->find("error")) {
        static const std::string unknown = "unrecognized op";
        if (e->value().compare(0, unknown.size(), unknown) == 0) {
            a.kind = SrvAnswer::unsupported;
            a.text = Srv::kNotSupported;
        } else {
            a.text = e->value().empty() ? "error" : e->value();
        }
        return a;
    }
    if (reply->find("unauthorized")) {
        a.text = "unauthorized";
        return a;
    }
    if (reply->find("failure")) {
        a.text = "failed";
        return a;
    }
    bool haserror;
    int err = errornum(reply, haserror);
    if (haserror && err != 0) {
        a.text = "error " + std::to_string(err);
        return a;
    }
    a.kind = SrvAnswer::ok;
    return a;
}

ModeDelay modedelay(const Item* ccstatus, ModeKind kind)
{
    static const char* const prefixes[] = {"task", "gpu", "network"};
    ModeDelay d;
    if (!ccstatus)
        return d;
    const std::string prefix = prefixes[static_cast<int>(kind)];
    if (Item* it = ccstatus->find(prefix + "_mode_delay")) {
        double v = it->doublevalue();
        // A hostile or broken value must not make a countdown of centuries or NaN.
        if (std::isfinite(v) && v > 0)
            d.left = std::min(v, 1e9);
    }
    if (Item* it = ccstatus->find(prefix + "_mode"))
        d.mode = it->intvalue();
    if (Item* it = ccstatus->find(prefix + "_mode_perm"))
        d.perm = it->intvalue();
    return d;
}

SrvAnswer Srv::control(const std::string& body)
{
    if (!fits(body)) {
        SrvAnswer a;
        a.kind = SrvAnswer::error;
        a.text = kInputTooLong;
        return a;
    }
    return answerof(request("%s", body.c_str()).get());
}

SrvAnswer Srv::transfercommand(const char* op, const std::string& projecturl,
                               const std::string& filename)
{
    SrvAnswer a = control(formattext("<%s>\n<project_url>%s</project_url>\n<filename>%s</filename>\n</%s>",
                                     op, esc(projecturl).c_str(), esc(filename).c_str(), op));
    filetransfersnapshots.refreshpending = true;
    return a;
}

SrvAnswer Srv::retrytransfer(const std::string& projecturl, const std::string& filename)
{
    return transfercommand("retry_file_transfer", projecturl, filename);
}

SrvAnswer Srv::aborttransfer(const std::string& projecturl, const std::string& filename)
{
    return transfercommand("abort_file_transfer", projecturl, filename);
}

SrvAnswer Srv::readccconfig()
{
    return control("<read_cc_config/>");
}

SrvAnswer Srv::readglobalprefsoverride()
{
    return control("<read_global_prefs_override/>");
}

SrvAnswer Srv::networkavailable()
{
    SrvAnswer a = control("<network_available/>");
    filetransfersnapshots.refreshpending = true;
    return a;
}

SrvAnswer Srv::quitclient()
{
    return control("<quit/>");
}

SrvAnswer Srv::setmodefor(ModeKind kind, const std::string& mode, int seconds)
{
    static const char* const names[] = {"run", "gpu", "network"};
    // The word becomes an element name: only the client's own three may go out.
    if (mode != "always" && mode != "auto" && mode != "never") {
        SrvAnswer a;
        a.kind = SrvAnswer::error;
        a.text = "unknown mode " + mode;
        return a;
    }
    const char* name = names[static_cast<int>(kind)];
    SrvAnswer a = control(formattext("<set_%s_mode><%s/><duration>%d</duration></set_%s_mode>", name,
                                     mode.c_str(), std::max(seconds, 0), name));
    forceccstatus = true;
    return a;
}

void Srv::noteccstatus()
{
    uint64_t stamp = 0;
    {
        Snapshot cc(ccstatussnapshots);
        stamp = cc.stamp();
    }
    std::lock_guard<std::mutex> hold(ccmutex);
    if (stamp != ccstamp) {
        ccstamp = stamp;
        cctime = std::chrono::steady_clock::now();
    }
}

ModeDelay Srv::modedelaynow(ModeKind kind)
{
    Snapshot cc(ccstatussnapshots);
    ModeDelay d = modedelay(cc.get(), kind);
    if (d.left <= 0)
        return d;
    double age = 0;
    {
        std::lock_guard<std::mutex> hold(ccmutex);
        // A status not yet noted has only just come.
        if (ccstamp == cc.stamp())
            age = std::chrono::duration<double>(std::chrono::steady_clock::now() - cctime).count();
    }
    d.left = std::max(0.0, d.left - age);
    return d;
}
