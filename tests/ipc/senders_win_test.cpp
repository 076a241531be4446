// The client's senders against a pipe server and events that the test stands
// up under names of its own.
#include "ipc/senders_win.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona::ipc {
namespace {

using Bytes = std::vector<uint8_t>;

class SenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring suffix = test_support::UniqueSuffix();
    endpoints_.pipe = L"\\\\.\\pipe\\VeltronaTest-" + suffix;
    endpoints_.sync_event = L"Local\\VeltronaTestSync-" + suffix;
    endpoints_.open_event = L"Local\\VeltronaTestOpen-" + suffix;
    endpoints_.exit_event = L"Local\\VeltronaTestExit-" + suffix;
    endpoints_.sync_timeout_ms = 2000;
  }

  // A server end in message mode, so that each write of the client arrives
  // as one message and the test sees how the client cut its bytes.
  UniquePipe CreateServer() {
    return UniquePipe(::CreateNamedPipeW(endpoints_.pipe.c_str(), PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 780, 780, 0,
                                         nullptr));
  }

  UniqueEvent CreateEvent(const std::wstring& name) {
    return UniqueEvent(::CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
  }

  // Accepts one client and returns each write it made, until it closes.
  static std::vector<Bytes> ReceiveWrites(HANDLE pipe) {
    std::vector<Bytes> writes;
    // A client that was quicker than this may have written and closed the
    // pipe already (ERROR_NO_DATA); what it wrote is still there to read.
    if (!::ConnectNamedPipe(pipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED &&
        ::GetLastError() != ERROR_NO_DATA) {
      return writes;
    }
    uint8_t buffer[2048];
    DWORD read = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &read, nullptr)) {
      writes.emplace_back(buffer, buffer + read);
    }
    return writes;
  }

  static bool IsSet(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

  Endpoints endpoints_;
};

Bytes ExpectedPayload(const std::wstring& folder) {
  Bytes payload(520, 0);
  for (size_t i = 0; i < folder.size(); ++i) {
    payload[2 * i] = static_cast<uint8_t>(folder[i] & 0xFF);
    payload[2 * i + 1] = static_cast<uint8_t>(folder[i] >> 8);
  }
  return payload;
}

TEST_F(SenderTest, StartRequestSendsThePathThenSetsOpenOnlyAfterSync) {
  UniquePipe server = CreateServer();
  UniqueEvent sync = CreateEvent(endpoints_.sync_event);
  UniqueEvent open = CreateEvent(endpoints_.open_event);
  ASSERT_TRUE(server && sync && open);

  const std::wstring folder = L"C:\\Users\\\u00c5sa\\AppData\\Local\\Veltrona VPN";
  auto request = std::async(std::launch::async, [&] { return RequestServiceStart(endpoints_, folder + L"\\"); });
  const std::vector<Bytes> writes = ReceiveWrites(server.Get());
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(writes[1], ExpectedPayload(folder));

  // The client waits for the service to store the paths before asking for
  // OpenVPN.
  ::Sleep(200);
  EXPECT_FALSE(IsSet(open.Get()));
  ::SetEvent(sync.Get());
  EXPECT_EQ(request.get(), StartRequest::kRequested);
  EXPECT_TRUE(IsSet(open.Get()));
}

TEST_F(SenderTest, StartRequestWithoutAServiceSendsNothingAndTouchesNoEvent) {
  UniqueEvent sync = CreateEvent(endpoints_.sync_event);
  UniqueEvent open = CreateEvent(endpoints_.open_event);
  ::SetEvent(sync.Get());
  EXPECT_EQ(RequestServiceStart(endpoints_, L"C:\\data"), StartRequest::kServiceUnavailable);
  // The sync event was not consumed by a wait, and open was not set.
  EXPECT_TRUE(IsSet(sync.Get()));
  EXPECT_FALSE(IsSet(open.Get()));
}

TEST_F(SenderTest, StartRequestGivesUpWhenTheServiceNeverAcknowledges) {
  UniquePipe server = CreateServer();
  UniqueEvent sync = CreateEvent(endpoints_.sync_event);
  UniqueEvent open = CreateEvent(endpoints_.open_event);
  auto request = std::async(std::launch::async, [&] { return RequestServiceStart(endpoints_, L"C:\\data"); });
  EXPECT_EQ(ReceiveWrites(server.Get()).size(), 2u);
  EXPECT_EQ(request.get(), StartRequest::kNoAnswer);
  EXPECT_FALSE(IsSet(open.Get()));
}

TEST_F(SenderTest, StartRequestWithoutTheServicesEventsDoesNotWait) {
  UniquePipe server = CreateServer();
  endpoints_.sync_timeout_ms = INFINITE;
  auto request = std::async(std::launch::async, [&] { return RequestServiceStart(endpoints_, L"C:\\data"); });
  EXPECT_EQ(ReceiveWrites(server.Get()).size(), 2u);
  EXPECT_EQ(request.get(), StartRequest::kNoAnswer);
}

TEST_F(SenderTest, StartRequestRefusesAFolderTooLongForTheService) {
  UniquePipe server = CreateServer();
  EXPECT_EQ(RequestServiceStart(endpoints_, L"C:\\" + std::wstring(250, L'a')), StartRequest::kFolderUnavailable);
  // The pipe's one instance is still free: the next client is the first one.
  auto sent = std::async(std::launch::async, [&] { return RequestRouteCheck(endpoints_); });
  EXPECT_EQ(ReceiveWrites(server.Get()), (std::vector<Bytes>{{3, 0, 0, 0}}));
  EXPECT_TRUE(sent.get());
}

TEST_F(SenderTest, RouteCheckIsTheCodeAlone) {
  UniquePipe server = CreateServer();
  auto sent = std::async(std::launch::async, [&] { return RequestRouteCheck(endpoints_); });
  const std::vector<Bytes> writes = ReceiveWrites(server.Get());
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(writes, (std::vector<Bytes>{{3, 0, 0, 0}}));
}

TEST_F(SenderTest, ASenderWaitsWhileTheServiceIsBusyWithAnotherMessage) {
  UniquePipe server = CreateServer();
  // Another client holds the pipe's one instance.
  UniquePipe other(::CreateFileW(endpoints_.pipe.c_str(), FILE_WRITE_DATA | SYNCHRONIZE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
  ASSERT_TRUE(other.IsValid());
  auto sent = std::async(std::launch::async, [&] { return RequestRouteCheck(endpoints_); });
  ::Sleep(300);
  other.Reset();
  ::DisconnectNamedPipe(server.Get());
  EXPECT_EQ(ReceiveWrites(server.Get()), (std::vector<Bytes>{{3, 0, 0, 0}}));
  EXPECT_TRUE(sent.get());
}

TEST_F(SenderTest, RouteCheckWithoutAServiceReportsNothingSent) { EXPECT_FALSE(RequestRouteCheck(endpoints_)); }

TEST_F(SenderTest, ExitSignalSetsOpenVpnsEventWhenItExists) {
  SignalOpenVpnExit(endpoints_);  // no OpenVPN: nothing happens
  UniqueEvent exit_event(::CreateEventW(nullptr, TRUE, FALSE, endpoints_.exit_event.c_str()));
  SignalOpenVpnExit(endpoints_);
  EXPECT_TRUE(IsSet(exit_event.Get()));
}

}  // namespace
}  // namespace veltrona::ipc
