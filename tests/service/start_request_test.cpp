#include "service/start_request.h"

#include <gtest/gtest.h>

namespace veltrona::service {
namespace {

StartRequestFacts Good() {
  StartRequestFacts facts;
  facts.have_paths = true;
  facts.request_age_ms = 40;
  facts.sender_running = true;
  facts.client_mutex = ClientMutexState::kHeld;
  facts.exit_event_ready = true;
  return facts;
}

TEST(StartRequest, OnlyTheRequestRightAfterARunningClientsPathsStartsOpenVpn) {
  EXPECT_EQ(RefuseStart(Good()), "");
  StartRequestFacts edge = Good();
  edge.request_age_ms = kOpenRequestWindowMs;
  EXPECT_EQ(RefuseStart(edge), "");

  struct Case {
    void (*change)(StartRequestFacts&);
    const char* line;
  };
  const Case cases[] = {
      {[](StartRequestFacts& f) { f.have_paths = false; }, "No data folder has been set; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.paths_used = true; },
       "The open request does not follow a new MSG_SET_PATH; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.request_age_ms = kOpenRequestWindowMs + 1; },
       "The open request came too long after MSG_SET_PATH; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.sender_running = false; },
       "The connection tool that sent MSG_SET_PATH has ended; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.client_mutex = ClientMutexState::kFree; },
       "The connection tool is not running; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.client_mutex = ClientMutexState::kMissing; },
       "The connection tool is not running; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.client_mutex = ClientMutexState::kWrongType; },
       "Global\\VeltronaIsOpened is not a mutex; another program made it; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.client_mutex = ClientMutexState::kUnusable; },
       "Global\\VeltronaIsOpened cannot be opened; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.exit_event_ready = false; },
       "The exit event for OpenVPN is not available; OpenVPN is not started"},
      {[](StartRequestFacts& f) { f.exit_requested = true; },
       "The connection tool asked to disconnect before OpenVPN started; OpenVPN is not started"},
  };
  for (const Case& c : cases) {
    StartRequestFacts facts = Good();
    c.change(facts);
    EXPECT_EQ(RefuseStart(facts), c.line);
  }
}

}  // namespace
}  // namespace veltrona::service
