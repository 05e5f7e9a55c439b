// The process's open descriptors and threads, counted from /proc.
#pragma once

#include <dirent.h>

namespace nxtka::test {

// Entries of a /proc directory such as /proc/self/fd or /proc/self/task (the
// directory's own descriptor counts the same every time).
inline int countEntries(const char* path) {
    DIR* d = opendir(path);
    if (d == nullptr) return -1;
    int n = 0;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n;
}

}  // namespace nxtka::test
