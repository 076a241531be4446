// The engine's state code, shared by the engines and the window they report to.
#pragma once

#include <cstdint>

namespace veltrona::engines {

// A plain 32-bit code; 2 is never produced, "connected" is 3.
using EngineState = int32_t;
inline constexpr EngineState ENGINE_DISCONNECTED = 0;
inline constexpr EngineState ENGINE_CONNECTING = 1;
inline constexpr EngineState ENGINE_CONNECTED = 3;

}  // namespace veltrona::engines
