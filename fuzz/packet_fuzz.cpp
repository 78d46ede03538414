// Data-packet decoder: any text either decodes to a packet that survives an
// encode/decode round trip unchanged, or fails with PacketError. As a wire
// variant, the fast reader and writer agree with the general decoder and
// the document's text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "data/json_text.h"
#include "data/packet.h"
#include "data/wire_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const dg::data::DataPacket packet = dg::data::DecodePacket(text);
    if (!(dg::data::DecodePacket(dg::data::EncodePacket(packet)) == packet)) std::abort();
  } catch (const dg::data::PacketError&) {
    // Not a packet: it may still be a wire variant, checked below.
  }
  // The same text as a wire variant (server arguments and results), read as
  // the server reads a request. The fast reader takes it or leaves it, and
  // what it takes reads as the general decoder reads it; the wire writer
  // writes what the document dumps to, or fails as it fails.
  dg::data::Variant fast;
  const bool taken = dg::data::TryReadWireVariant(text, &fast);
  dg::data::Variant general;
  try {
    general = dg::data::VariantFromJson(dg::data::ParseJson(text));
  } catch (const dg::Error&) {
    if (taken) std::abort();
    return 0;
  }
  if (taken && !(general == fast)) std::abort();
  std::string want, got;
  try {
    want = dg::data::VariantToJson(general).dump();
  } catch (const std::exception& e) {
    want = std::string("failed: ") + e.what();
  }
  try {
    got = dg::data::WireWriter().Value(general).Take();
  } catch (const std::exception& e) {
    got = std::string("failed: ") + e.what();
  }
  if (want != got) std::abort();
  return 0;
}
