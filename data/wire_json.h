// The wire text of variants and packets (packet.h), written and read
// without building a JSON document in between: a day's item packet of tens
// of thousands of rows travels with every distribution, to the server and
// back, and the document in between cost more than the text itself.
//
// The writer writes the very bytes nlohmann-json's dump() writes for the
// document VariantToJson builds (keys in sorted order, no blanks, numbers
// in its shortest form), and fails where that would fail, with the same
// exception. The readers take the common form of a call's body and give up
// (answer false) on anything else: a key they do not know, keys out of the
// order the writer puts them, a value the general decoder would refuse or
// read another way. The caller then decodes the same text the general way
// (ParseJson and VariantFromJson), which gives the value or the refusal
// with its text; whatever the readers accept, the general way reads as the
// same value.
// The readers read the text with json_events.h, not with the library's
// lexer: a fleet-sized packet is read several times faster.
#pragma once

#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/variant.h"

namespace dg::data {

// Appends JSON text to a string.
class WireWriter {
 public:
  // What a text that is not UTF-8 becomes: a failure (nlohmann-json's
  // type_error, thrown by Take), or U+FFFD in its place.
  enum class BadText { Throw, Replace };
  explicit WireWriter(BadText bad = BadText::Throw) : bad_(bad) {}

  // Punctuation and keys, as they stand ("{\"args\":[").
  WireWriter& Raw(std::string_view text) {
    out_.append(text);
    return *this;
  }
  // A JSON string.
  WireWriter& Text(std::string_view text);
  // The variant as VariantToJson writes it; throws what VariantToJson
  // throws for it.
  WireWriter& Value(const Variant& value);
  // A JSON array of the values, each as Value writes it.
  WireWriter& Values(const std::vector<Variant>& values);

  // The text; throws the failure of the first text that was not UTF-8 (as
  // dump() would, once the document was whole).
  std::string Take();

 private:
  void Packet(const DataPacket& packet);
  void Row(const DataPacket& packet, const std::vector<Variant>& row);
  void Double(double value);

  BadText bad_;
  std::string out_;
  std::exception_ptr bad_text_;
};

// One member of a JSON object the reader fills: exactly one of the targets
// is set; `text` takes a JSON string, `value` a wire variant, `list` an
// array of wire variants.
struct WireMember {
  std::string_view key;
  std::string* text = nullptr;
  Variant* value = nullptr;
  std::vector<Variant>* list = nullptr;
};

// Reads an object holding exactly `members` (in the order given, which must
// be the sorted order of their keys) into their targets; false when the
// text is in any other form (targets then unspecified).
bool TryReadWireObject(std::string_view text, std::span<const WireMember> members);

// Reads one wire variant; false when it is in any other form.
bool TryReadWireVariant(std::string_view text, Variant* out);

}  // namespace dg::data
