// Writing files so that a failure never leaves half a file behind: the configuration and
// the task history both go through here.
#ifndef VARNIX_FILEIO_H
#define VARNIX_FILEIO_H

#include <functional>
#include <string>

// Writes all of `text`, going on after interrupted writes. False on any other error
// (errno tells which).
bool writeall(int fd, const std::string& text);

// Writes `text` into a new file in the folder of `target`, named after `hiddenname` and
// six random characters, and renames it over `target`: 0 on success, else the errno of
// the step that failed (the new file is removed again). The new file has mode 0600 until
// `prepare`, when given, changes that on its descriptor before the text is written.
// When not even the new file can be made, *made is set false (if given).
int replacefile(const std::string& target, const std::string& hiddenname, const std::string& text,
                const std::function<void(int fd)>& prepare = {}, bool* made = nullptr);

#endif
