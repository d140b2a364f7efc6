#include "Windows.h"

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <map>
#include <mutex>

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

std::vector<MessageBoxRecord>& Log() {
    static std::vector<MessageBoxRecord> log;
    return log;
}

// Handles count up from 1 and are never reused, so a stale handle can never
// reach a newer target.
struct TargetTable {
    std::mutex lock;
    std::map<uintptr_t, IPresentationTarget*> targets;
    uintptr_t next = 1;
};

TargetTable& Targets() {
    static TargetTable table;
    return table;
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    std::string folder(path, static_cast<size_t>(length));
    return folder.substr(0, folder.rfind('/') + 1);
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const std::string body = text ? text : "";
    const std::string title = caption ? caption : "Error";
    Log().push_back({body, title, type});
    if (Handler()) return Handler()(owner, body, title, type);
    std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
    return IDOK;
}

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

const std::vector<MessageBoxRecord>& MessageBoxLog() { return Log(); }

void ClearMessageBoxLog() { Log().clear(); }

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (!fileName) return nullptr;
    std::string name = fileName;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0) name.resize(name.size() - 4);
    const std::string soname = "lib" + name + ".so";
    void* handle = dlopen((ProgramFolder() + soname).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) handle = dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (!module || !procName) return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(module, procName));
}

BOOL FreeLibrary(HMODULE module) { return module && dlclose(module) == 0 ? TRUE : FALSE; }

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000000;
    return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return TRUE;
}

HWND RegisterWindowTarget(IPresentationTarget* target) {
    TargetTable& table = Targets();
    std::lock_guard guard(table.lock);
    const uintptr_t handle = table.next++;
    table.targets[handle] = target;
    return reinterpret_cast<HWND>(handle);
}

void UnregisterWindowTarget(HWND window) {
    TargetTable& table = Targets();
    std::lock_guard guard(table.lock);
    table.targets.erase(reinterpret_cast<uintptr_t>(window));
}

IPresentationTarget* FindWindowTarget(HWND window) {
    TargetTable& table = Targets();
    std::lock_guard guard(table.lock);
    const auto found = table.targets.find(reinterpret_cast<uintptr_t>(window));
    return found == table.targets.end() ? nullptr : found->second;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    const IPresentationTarget* target = FindWindowTarget(window);
    if (!target) return FALSE;
    *rect = {0, 0, target->ClientWidth(), target->ClientHeight()};
    return TRUE;
}

void StretchFrame(const uint32_t* pixels, int width, int height, int pitch, uint32_t* dest,
                  int destWidth, int destHeight, int destPitch) {
    if (width <= 0 || height <= 0) return;
    for (int y = 0; y < destHeight; ++y) {
        const int sy = static_cast<int>(static_cast<int64_t>(y) * height / destHeight);
        const auto* source = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(pixels) +
                                                               static_cast<ptrdiff_t>(sy) * pitch);
        auto* row = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(dest) +
                                                static_cast<ptrdiff_t>(y) * destPitch);
        if (destWidth == width) {
            std::copy(source, source + width, row);
            continue;
        }
        for (int x = 0; x < destWidth; ++x)
            row[x] = source[static_cast<int64_t>(x) * width / destWidth];
    }
}

TMemoryTarget::TMemoryTarget(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height),
      handle_(RegisterWindowTarget(this)) {}

TMemoryTarget::~TMemoryTarget() { UnregisterWindowTarget(handle_); }

void TMemoryTarget::PresentFrame(const uint32_t* pixels, int width, int height, int pitch) {
    StretchFrame(pixels, width, height, pitch, pixels_.data(), width_, height_, width_ * 4);
    ++presents_;
}
