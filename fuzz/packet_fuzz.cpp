// Data-packet decoder: any text either decodes to a packet that survives an
// encode/decode round trip unchanged, or fails with PacketError.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "data/json_text.h"
#include "data/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  dg::data::DataPacket packet;
  try {
    packet = dg::data::DecodePacket(text);
  } catch (const dg::data::PacketError&) {
    return 0;
  }
  if (!(dg::data::DecodePacket(dg::data::EncodePacket(packet)) == packet)) std::abort();
  // The same text as a wire variant (server arguments and results), read as
  // the server reads a request.
  try {
    dg::data::VariantToJson(dg::data::VariantFromJson(dg::data::ParseJson(text)));
  } catch (const dg::Error&) {
  }
  return 0;
}
