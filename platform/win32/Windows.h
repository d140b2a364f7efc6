// The Win32 calls the engine makes, on Linux: message boxes (shown by a
// handler the application installs), run-time modules, the performance
// counter, and window handles that name presentation targets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using LONG = int32_t;
using BOOL = int;
using HRESULT = int32_t;
using LPCSTR = const char*;
using LPVOID = void*;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

union LARGE_INTEGER {
    struct {
        uint32_t LowPart;
        int32_t HighPart;
    };
    int64_t QuadPart;
};

struct RECT {
    LONG left, top, right, bottom;
};
struct POINT {
    LONG x, y;
};

// ---- Message boxes -------------------------------------------------------

struct HWND__;
using HWND = HWND__*;

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr int IDOK = 1;

// Shows text with caption through the installed handler; without one it
// writes "caption: text" to standard error. Every call is recorded.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

using MessageBoxHandler = std::function<int(HWND owner, const std::string& text,
                                            const std::string& caption, UINT type)>;
// Installs the handler (an empty one restores the standard-error default).
void SetMessageBoxHandler(MessageBoxHandler handler);

struct MessageBoxRecord {
    std::string Text, Caption;
    UINT Type;
};
// The message boxes shown so far, oldest first; tests read and clear them.
const std::vector<MessageBoxRecord>& MessageBoxLog();
void ClearMessageBoxLog();

// ---- Run-time modules ----------------------------------------------------

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = void (*)();

// "name.dll" loads the shared module libname.so (lower-cased) from the
// program's own folder, else from the loader's search path; null if missing.
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

// ---- Performance counter (monotonic clock, nanosecond ticks) -------------

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);

// ---- Window handles as presentation targets ------------------------------
//
// A window handle names a presentation target: something that reports a
// client size and accepts finished frames. The GUI registers its render
// panel; tests and tools register a TMemoryTarget. The device module looks
// targets up by handle, so a target that is gone is noticed, never touched.

class IPresentationTarget {
public:
    virtual ~IPresentationTarget() = default;
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    // Takes a finished frame: width x height pixels, 0xAARRGGBB, rows top
    // first, pitch bytes apart. Presenting stretches to the client size
    // itself when the sizes differ (PresentStretched does it for targets).
    virtual void PresentFrame(const uint32_t* pixels, int width, int height, int pitch) = 0;
};

// Registers a target; answers its handle (never null).
HWND RegisterWindowTarget(IPresentationTarget* target);
// Forgets a handle; later lookups answer null.
void UnregisterWindowTarget(HWND window);
// The target of a handle, or null when there is none (any more).
IPresentationTarget* FindWindowTarget(HWND window);
// The client size of a window; false when the handle names no target.
BOOL GetClientRect(HWND window, RECT* rect);

// Copies a frame into dest (destWidth x destHeight, rows destPitch bytes
// apart) by nearest sampling.
void StretchFrame(const uint32_t* pixels, int width, int height, int pitch, uint32_t* dest,
                  int destWidth, int destHeight, int destPitch);

// An in-memory presentation target for tests and tools: it keeps the last
// presented frame at its client size.
class TMemoryTarget : public IPresentationTarget {
public:
    TMemoryTarget(int width, int height);
    ~TMemoryTarget() override;
    TMemoryTarget(const TMemoryTarget&) = delete;
    TMemoryTarget& operator=(const TMemoryTarget&) = delete;

    HWND Handle() const { return handle_; }
    int ClientWidth() const override { return width_; }
    int ClientHeight() const override { return height_; }
    void PresentFrame(const uint32_t* pixels, int width, int height, int pitch) override;

    // The last presented frame (0xAARRGGBB), client-sized, zero until a
    // frame arrives; Presents() counts the frames.
    uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    const std::vector<uint32_t>& Pixels() const { return pixels_; }
    int Presents() const { return presents_; }

private:
    int width_, height_;
    std::vector<uint32_t> pixels_;
    int presents_ = 0;
    HWND handle_;
};
