#include "config.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileio.h"

Config* gConfig = nullptr;
const char* const kVarnixVersion = VARNIX_VERSION;

namespace {

// Far above any real configuration; a link to a device must not fill the memory.
constexpr off_t kMaxConfigBytes = off_t(256) << 20;

// Reads a regular file whole; otherwise (a pipe would block the start for ever, a
// device never ends) says why not.
bool readwholefile(const std::string& path, std::string& out, std::string& why)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        why = strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = "not a regular file";
    else if (st.st_size > kMaxConfigBytes)
        why = "the file is too large";
    if (!why.empty()) {
        close(fd);
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            why = strerror(errno);
            close(fd);
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
        if (static_cast<off_t>(out.size()) > kMaxConfigBytes) {
            why = "the file is too large";
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

// Follows a chain of symbolic links to the file that is really written.
std::string finaltarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        char buf[PATH_MAX];
        ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0)
            return path;
        buf[n] = '\0';
        if (buf[0] == '/') {
            path = buf;
        } else {
            size_t slash = path.rfind('/');
            path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + buf;
        }
    }
    return path;
}

} // namespace

std::string homedirectory()
{
    const char* home = getenv("HOME");
    if (home && *home)
        return home;
    struct passwd* pw = getpwuid(getuid());
    if (pw && pw->pw_dir && *pw->pw_dir)
        return pw->pw_dir;
    return std::string();
}

Config::Config(const char* filename)
{
    std::string home = homedirectory();
    if (!home.empty())
        path = home + "/" + filename;
    load();
    Item* cfg = getcfgroot();
    linedrawmode = intvalue(cfg, "line_draw_mode");
    transparentbackground = intvalue(cfg, "transparent_background");
}

Item* Config::getcfgroot() const
{
    return root ? root->find("varnix_cfg") : nullptr;
}

void Config::load()
{
    isdefault = true;
    struct stat st;
    if (path.empty() || (stat(path.c_str(), &st) != 0 && errno == ENOENT)) {
        generatedafault();
        return;
    }
    std::string text;
    std::string why;
    if (!readwholefile(path, text, why)) {
        // No tree: nothing will be saved over a file we could not read.
        errortext = path + "\n" + "cannot read the file: " + why;
        return;
    }
    std::string parseerror;
    root = parsexmlinplace(text, parseerror);
    if (!parseerror.empty())
        errortext = path + "\n" + parseerror;
    isdefault = false;

    Item* cfg = getcfgroot();
    if (!cfg)
        return;
    if (!cfg->find("version")) {
        auto v = std::make_unique<Item>("version");
        v->setvalue(kVarnixVersion);
        cfg->addchild(std::move(v));
    }
}

namespace {

// The space is taken before anything is overwritten, so a full disk leaves the old file
// as it was; the old file's tail is cut only once the new text is all written.
// Returns 0, or the errno of what failed.
int rewriteinplace(const std::string& target, const std::string& text, bool secret)
{
    int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st;
    if (secret && fstat(fd, &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
        (void)fchmod(fd, st.st_mode & S_IRWXU); // best effort: the file may not be ours
    const off_t size = static_cast<off_t>(text.size());
    int err = size == 0 ? 0 : posix_fallocate(fd, 0, size);
    if (err == 0 && !writeall(fd, text))
        err = errno;
    if (err == 0 && (ftruncate(fd, size) != 0 || fsync(fd) != 0))
        err = errno;
    close(fd);
    return err;
}

std::string writeerror(const std::string& target, int err)
{
    return target + "\n" + "cannot write the file: " + strerror(err);
}

} // namespace

bool Config::save(std::string* why)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (!errortext.empty())
        return fail("not saved, the file could not be read at start:\n" + errortext);
    if (path.empty())
        return fail("not saved: no home folder is known");
    Item* cfg = getcfgroot();
    if (!cfg)
        return fail("not saved: the file has no varnix_cfg element");
    std::string text = cfg->toxml(true);
    // Passwords are for the owner's eyes only, whatever the file allowed before.
    const bool secret = cfg->find("pwd") != nullptr;

    // Write a new file beside the old one and rename it over, so a failed save
    // never leaves a truncated configuration behind.
    std::string target = finaltarget(path);
    bool made = true;
    int err = replacefile(target, ".varnix.cfg", text, [&target, secret](int fd) {
        struct stat st;
        if (stat(target.c_str(), &st) != 0)
            return;
        mode_t mode = st.st_mode & 07777;
        if (secret)
            mode &= S_IRWXU;
        (void)fchmod(fd, mode);
        if (geteuid() == 0)
            (void)fchown(fd, st.st_uid, st.st_gid);
    }, &made);
    // A writable file in a folder we may not write to: rewriting it in place is the only
    // way left to keep the user's changes.
    if (!made && (err == EACCES || err == EPERM))
        err = rewriteinplace(target, text, secret);
    if (err != 0)
        return fail(writeerror(target, err));
    return true;
}

void Config::generatedafault()
{
    root = std::make_unique<Item>("");
    root->addchild(std::make_unique<Item>("varnix_cfg"));
    addserver("127.0.0.1", "31416", "", "Local Server");
}

void Config::addserver(const std::string& host, const std::string& port, const std::string& pwd,
                       const std::string& hostid)
{
    Item* cfg = getcfgroot();
    if (host.empty() || port.empty() || !cfg)
        return;
    auto server = std::make_unique<Item>("server");
    auto add = [&](const char* name, const std::string& value) {
        auto it = std::make_unique<Item>(name);
        it->setvalue(value);
        server->addchild(std::move(it));
    };
    add("host", host);
    add("port", port);
    if (!pwd.empty())
        add("pwd", pwd);
    add("hostid", hostid);
    cfg->addchild(std::move(server));
}

int Config::intvalue(const Item* parent, const char* name) const
{
    if (!parent)
        return 0;
    Item* it = parent->find(name);
    return it ? it->intvalue() : 0;
}

void Config::setintvalue(Item* parent, const char* name, int value)
{
    if (!root)
        return;
    if (!parent)
        parent = root.get();
    Item* it = parent->find(name);
    if (!it)
        it = parent->addchild(std::make_unique<Item>(name));
    it->setintvalue(value);
}

void Config::setintvalue(const char* name, int value)
{
    Item* cfg = getcfgroot();
    setintvalue(cfg ? cfg : root.get(), name, value);
}
