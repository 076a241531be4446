#include "base/unique_handle_win.h"

#include <gtest/gtest.h>

#include <thread>

namespace veltrona {
namespace {

// The pseudo-handle of the current process has the same value as
// INVALID_HANDLE_VALUE: a kernel handle holding it must neither count as open
// nor be closed, and a file handle must not take null for a file.
TEST(UniqueHandle, KernelAndFileHandlesRefuseBothInvalidValues) {
  const UniqueKernelHandle from_a_bad_open(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(from_a_bad_open);
  EXPECT_EQ(from_a_bad_open.Get(), nullptr);
  UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  event.Reset(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(event);

  const UniqueFile from_null(nullptr);
  EXPECT_FALSE(from_null);
  EXPECT_EQ(from_null.Get(), INVALID_HANDLE_VALUE);
}

TEST(UniqueHandle, ClosingKeepsTheErrorBeingReported) {
  UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const HANDLE raw = event.Get();
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  event.Reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(::SetEvent(raw)) << "the handle is closed";
}

// COM ends only what this object began: a thread that is already in the
// other apartment stays as it was, and the count comes back to nothing.
TEST(ScopedComInitialize, UndoesOnlyItsOwnInitialisation) {
  std::thread([] {
    {
      const ScopedComInitialize multithreaded(COINIT_MULTITHREADED);
      EXPECT_EQ(multithreaded.result(), S_OK);
      const ScopedComInitialize single(COINIT_APARTMENTTHREADED);
      EXPECT_EQ(single.result(), RPC_E_CHANGED_MODE);
    }
    // Fully uninitialised: the thread may now choose the other model.
    const ScopedComInitialize single(COINIT_APARTMENTTHREADED);
    EXPECT_EQ(single.result(), S_OK);
  }).join();
}

TEST(ScopedWinsock, SocketsWorkWhileItLivesAndClose) {
  const ScopedWinsock winsock;
  ASSERT_TRUE(winsock.started());
  UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_TRUE(socket);
  const SOCKET raw = socket.Get();
  socket.Reset();
  int type = 0;
  int size = sizeof type;
  EXPECT_EQ(::getsockopt(raw, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size), SOCKET_ERROR);
  EXPECT_EQ(::WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace
}  // namespace veltrona
