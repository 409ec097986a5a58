// Command line of the entry point: options into gConfig's command-line fields.
#ifndef VARNIX_CMDLINE_H
#define VARNIX_CMDLINE_H

class Config;

// Returns the start flag. `status` becomes 1 after an option error (0 otherwise).
bool parsecmdline(int argc, char** argv, Config& cfg, int& status);

// The text printed by --help.
extern const char* const kUsageText;

#endif
