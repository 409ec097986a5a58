#include "fileio.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

bool writeall(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

int replacefile(const std::string& target, const std::string& hiddenname, const std::string& text,
                const std::function<void(int fd)>& prepare, bool* made)
{
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string tmpl = dir + "/" + hiddenname + ".XXXXXX";
    std::vector<char> tmpname(tmpl.begin(), tmpl.end());
    tmpname.push_back('\0');
    const int fd = mkstemp(tmpname.data()); // mode 0600
    if (made)
        *made = fd >= 0;
    if (fd < 0)
        return errno;
    if (prepare)
        prepare(fd);
    int err = 0;
    if (!writeall(fd, text) || fsync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && rename(tmpname.data(), target.c_str()) != 0)
        err = errno;
    if (err != 0)
        unlink(tmpname.data());
    return err;
}
