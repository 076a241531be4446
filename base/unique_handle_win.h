// One owning wrapper for every kind of handle the programs open. The traits
// carry the invalid value and the close call; Reset keeps GetLastError()
// intact so a failure can be reported after the clean-up.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#include <objbase.h>
#include <wininet.h>
#include <winsvc.h>

#include <utility>

namespace veltrona {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(Normalise(handle)) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  [[nodiscard]] Handle Get() const noexcept { return handle_; }
  [[nodiscard]] bool IsValid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }

  Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  void Reset(Handle handle = Traits::Invalid()) noexcept {
    if (handle_ != Traits::Invalid()) {
      const DWORD error = ::GetLastError();
      Traits::Close(handle_);
      ::SetLastError(error);
    }
    handle_ = Normalise(handle);
  }

  // Closes now, for the handles whose close can fail and must be reported
  // (a file's close writes back what is still buffered); false with
  // GetLastError() set when it failed.
  [[nodiscard]] bool Close() noexcept {
    const Handle handle = Release();
    return handle == Traits::Invalid() || Traits::Close(handle);
  }

  // For out-parameters of platform calls.
  Handle* Put() noexcept {
    Reset();
    return &handle_;
  }

 private:
  // Kinds with a second invalid value hold it as their first one, so it is
  // neither valid nor ever closed.
  static Handle Normalise(Handle handle) noexcept {
    if constexpr (requires { Traits::AlsoInvalid(); }) {
      if (handle == Traits::AlsoInvalid()) return Traits::Invalid();
    }
    return handle;
  }

  Handle handle_ = Traits::Invalid();
};

// Events, mutexes, processes, threads, jobs: the calls that make them fail
// with null, but a few (OpenProcess's callers, DuplicateHandle's, the
// pseudo-handle mix-ups) meet INVALID_HANDLE_VALUE; neither is ever closed.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static Handle AlsoInvalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// CreateFile and CreateNamedPipe fail with INVALID_HANDLE_VALUE; a null
// handle is no file either.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static Handle AlsoInvalid() noexcept { return nullptr; }
  static bool Close(Handle h) noexcept { return ::CloseHandle(h) != FALSE; }
};

// FindFirstFileW's listings close with FindClose, not CloseHandle.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::FindClose(h); }
};

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CloseServiceHandle(h); }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

struct EventSourceTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeregisterEventSource(h); }
};

struct EventLogTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CloseEventLog(h); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::LocalFree(h); }
};

// GDI objects of one kind each, so a font is never put where a bitmap goes.
template <typename GdiHandle>
struct GdiObjectTraits {
  using Handle = GdiHandle;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeleteDC(h); }
};

struct MenuTraits {
  using Handle = HMENU;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DestroyMenu(h); }
};

// WinInet's Internet, connection and request handles.
struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() noexcept { return INVALID_SOCKET; }
  static void Close(Handle socket) noexcept { ::closesocket(socket); }
};

// COM's length-prefixed strings (SysAllocString).
struct BstrTraits {
  using Handle = BSTR;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::SysFreeString(h); }
};

using UniqueEvent = UniqueHandle<KernelHandleTraits>;
using UniqueMutex = UniqueHandle<KernelHandleTraits>;
using UniqueProcess = UniqueHandle<KernelHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniquePipe = UniqueHandle<FileHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueRegKey = UniqueHandle<RegistryKeyTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;
using UniqueEventLog = UniqueHandle<EventLogTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueRegion = UniqueHandle<GdiObjectTraits<HRGN>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueBstr = UniqueHandle<BstrTraits>;
using UniqueInternet = UniqueHandle<InternetHandleTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
// What ConvertStringSecurityDescriptorToSecurityDescriptor and its kin hand
// out comes from LocalAlloc.
using UniqueSecurityDescriptor = UniqueHandle<LocalMemoryTraits>;

// Winsock for as long as the object lives; started() says whether it is.
class ScopedWinsock {
 public:
  ScopedWinsock() noexcept {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~ScopedWinsock() {
    if (started_) ::WSACleanup();
  }
  ScopedWinsock(const ScopedWinsock&) = delete;
  ScopedWinsock& operator=(const ScopedWinsock&) = delete;
  [[nodiscard]] bool started() const noexcept { return started_; }

 private:
  bool started_ = false;
};

// COM on the calling thread, in the model asked for. A thread that already
// is in the other model stays as it was (RPC_E_CHANGED_MODE) and is not
// uninitialised here.
class ScopedComInitialize {
 public:
  explicit ScopedComInitialize(DWORD model) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
  ~ScopedComInitialize() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ScopedComInitialize(const ScopedComInitialize&) = delete;
  ScopedComInitialize& operator=(const ScopedComInitialize&) = delete;
  [[nodiscard]] HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// Puts back the object a device context held before a selection.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~ScopedSelectObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// GetDC and ReleaseDC of one window (null: the whole screen).
class ScopedWindowDc {
 public:
  explicit ScopedWindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~ScopedWindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  ScopedWindowDc(const ScopedWindowDc&) = delete;
  ScopedWindowDc& operator=(const ScopedWindowDc&) = delete;
  HDC dc() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint and EndPaint of one window.
class ScopedPaint {
 public:
  explicit ScopedPaint(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ~ScopedPaint() { ::EndPaint(window_, &paint_); }
  ScopedPaint(const ScopedPaint&) = delete;
  ScopedPaint& operator=(const ScopedPaint&) = delete;
  HDC dc() const noexcept { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

}  // namespace veltrona
