// The process's open descriptors and threads, counted from /proc.
#pragma once

#include <dirent.h>

#include <thread>

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

// The number of threads, counted once any helper thread of a sanitizer's
// runtime (started with the process's first new thread) exists.
inline int settledThreadCount() {
    std::thread([] {}).join();
    return countEntries("/proc/self/task");
}

}  // namespace nxtka::test
