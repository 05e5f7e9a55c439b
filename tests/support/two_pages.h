// A readable page followed by one that cannot be read, for memory tests.
#pragma once

#include <cstddef>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace nxtka::test {

// Two pages, the second one taken away (unmapped, or left without access).
class TwoPages {
public:
    explicit TwoPages(bool unmapSecond) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* m = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return;
        base_ = static_cast<unsigned char*>(m);
        std::memset(base_, 0x5A, page_);
        if (unmapSecond) {
            munmap(base_ + page_, page_);
            mapped_ = page_;
        } else {
            mprotect(base_ + page_, page_, PROT_NONE);
            mapped_ = 2 * page_;
        }
    }
    ~TwoPages() {
        if (base_ != nullptr) munmap(base_, mapped_);
    }
    TwoPages(const TwoPages&) = delete;
    TwoPages& operator=(const TwoPages&) = delete;
    bool ok() const { return base_ != nullptr; }
    // The first byte past the readable page.
    unsigned char* end() const { return base_ + page_; }
    std::size_t page() const { return page_; }

private:
    unsigned char* base_ = nullptr;
    std::size_t page_ = 0;
    std::size_t mapped_ = 0;
};

}  // namespace nxtka::test
