// Arbitrary bytes as a message on the command pipe, through everything the
// service derives from one, and as a route journal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "ipc/protocol.h"
#include "service/data_folder.h"
#include "service/route_guard.h"

using namespace veltrona;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= ipc::kMessageCodeSize) {
    (void)ipc::DecodeMessageCode(std::span<const uint8_t, ipc::kMessageCodeSize>(data, ipc::kMessageCodeSize));
  }
  if (size >= ipc::kSetPathMessageSize) {
    const std::span<const uint8_t, ipc::kSetPathPayloadSize> payload(data + ipc::kMessageCodeSize,
                                                                      ipc::kSetPathPayloadSize);
    if (const auto folder = ipc::DecodeSetPathPayload(payload)) {
      if (service::CheckDataFolderText(*folder).empty()) {
        const service::DataFolderPaths paths = service::DerivePaths(*folder);
        // Every derived path fits a 260-character buffer with its terminator.
        if (paths.config_path.size() >= 260 || paths.output_path.size() >= 260) std::abort();
        // An accepted folder survives the client's encoding unchanged.
        const auto again = ipc::EncodeSetPathPayload(paths.folder);
        if (!again || ipc::DecodeSetPathPayload(*again) != paths.folder) std::abort();
      }
    }
  }
  const auto rows = service::DecodeRouteJournal(std::string_view(reinterpret_cast<const char*>(data), size));
  if (service::DecodeRouteJournal(service::EncodeRouteJournal(rows)) != rows) std::abort();
  return 0;
}
