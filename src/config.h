// Config: the user's settings tree, loaded from and saved to ~/.varnix.cfg,
// plus the results of the command line (never written to the file).
#ifndef VARNIX_CONFIG_H
#define VARNIX_CONFIG_H

#include <memory>
#include <string>

#include "item.h"

class Config {
public:
    explicit Config(const char* filename);

    void load();
    // Writes the file; false, with the reason in `why` when given, when it was not
    // written (a file that failed to load is never written over).
    bool save(std::string* why = nullptr);
    void generatedafault();
    void addserver(const std::string& host, const std::string& port, const std::string& pwd,
                   const std::string& hostid);
    // The "varnix_cfg" element, or null when there is no usable tree.
    Item* getcfgroot() const;
    int intvalue(const Item* parent, const char* name) const;
    void setintvalue(Item* parent, const char* name, int value);
    void setintvalue(const char* name, int value);

    // The drawing settings as the file had them at start; the screen takes them over.
    int linedrawmode = 0;
    int transparentbackground = 0;
    bool isdefault = true;
    std::string errortext;
    std::string cmdhost;
    std::string cmdport = "31416";
    std::string cmdpassword;
    bool cmdhostislocal = false;
    std::string path; // empty when no home directory is known: nothing is ever saved then
    std::unique_ptr<Item> root;
};

extern Config* gConfig;
// The program's version, from the build ("2.7.2").
extern const char* const kVarnixVersion;

// Home directory: $HOME, else the password database, else empty.
std::string homedirectory();

#endif
