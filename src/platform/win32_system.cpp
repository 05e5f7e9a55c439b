// Memory test, the library file's version and the default device names on
// Windows.
#include "platform/platform.h"

#include <windows.h>

#include <vector>

namespace nxtka::platform {
namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Long enough for any path GetModuleFileName gives without the long-path prefix.
constexpr DWORD kPathChars = 519;
constexpr UINT kFixedInfoBytes = 52;  // VS_FIXEDFILEINFO

}  // namespace

// Walks the regions with VirtualQuery instead of touching the bytes, so a
// guard page stays a guard page.
bool isReadable(const void* p, std::size_t bytes) {
    if (p == nullptr) return false;
    auto at = reinterpret_cast<std::uintptr_t>(p);
    if (bytes == 0) return true;
    if (at + bytes < at) return false;
    const std::uintptr_t end = at + bytes;
    while (at < end) {
        MEMORY_BASIC_INFORMATION mbi{};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &mbi, sizeof mbi) == 0) return false;
        if (mbi.State != MEM_COMMIT || (mbi.Protect & kReadable) == 0 || (mbi.Protect & PAGE_GUARD) != 0) {
            return false;
        }
        const std::uintptr_t regionEnd = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
        if (regionEnd <= at) return false;
        at = regionEnd;
    }
    return true;
}

// The version resource of the module this code is linked into (the DLL).
bool libraryFileVersion(std::uint32_t& high, std::uint32_t& low) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&libraryFileVersion), &module)) {
        return false;
    }
    wchar_t path[kPathChars + 1] = {};
    const DWORD len = GetModuleFileNameW(module, path, kPathChars);
    if (len == 0 || len >= kPathChars) return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return false;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return false;
    void* fixed = nullptr;
    UINT fixedLen = 0;
    if (!VerQueryValueW(data.data(), L"\\", &fixed, &fixedLen) || fixed == nullptr || fixedLen < kFixedInfoBytes) {
        return false;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    if (info->dwSignature != 0xFEEF04BDu) return false;
    high = info->dwFileVersionMS;
    low = info->dwFileVersionLS;
    return true;
}

std::uint32_t lastSystemError() { return GetLastError(); }

std::string systemErrorText(std::uint32_t code) {
    char buf[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                             sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == '.')) --n;
    if (n == 0) return "system error " + std::to_string(code);
    return std::string(buf, n);
}

std::string defaultDeviceName(unsigned port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace nxtka::platform
