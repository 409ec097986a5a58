// A private temporary folder for one test, removed with everything in it.
#ifndef VARNIX_TESTS_TEMPDIR_H
#define VARNIX_TESTS_TEMPDIR_H

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The configuration file a first start writes, line by line.
extern const char kFirstStartConfig[];

std::string readfile(const std::string& path);
void writefile(const std::string& path, const std::string& text);

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value); // null value unsets it
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

#endif
