// Field: the current record's value of one column, as a value and as text.
#include <charconv>
#include <cmath>

#include "data/dataset_impl.h"
#include "data/format.h"
#include "data/names.h"

namespace dg::data {

Field::Field(ClientDataset* owner, FieldDef def, int index, bool calculated)
    : owner_(owner), def_(std::move(def)), index_(index), calculated_(calculated) {}

std::string Field::DisplayName() const { return display_label.empty() ? def_.name : display_label; }

Variant Field::Value() const { return owner_->CellRef(index_); }
void Field::SetValue(const Variant& value) { owner_->SetCell(index_, value); }
bool Field::IsNull() const { return owner_->CellRef(index_).IsEmptyOrNull(); }

std::string Field::AsString() const {
  const Variant& v = owner_->CellRef(index_);
  if (v.IsEmptyOrNull()) return "";
  if (const DateTime* d = v.IfDateTime()) return d->ToBrazilian();
  return v.ToString();
}

namespace {

// Field::AsFloat for everything but a number in a double cell.
[[gnu::noinline]] double FloatOf(const Field& field) {
  const Variant v = field.Value();
  if (v.IsEmptyOrNull()) return 0;
  try {
    return v.ToDouble();
  } catch (const VariantConversionError& e) {
    throw DatasetError("field " + field.FieldName() + ": " + e.what());
  }
}

// What the clerk sees when a typed text does not read as the field's type:
// the field by its title and the text as typed, cut at 40 characters (a
// paste can be anything).
DatasetError UnreadableText(const Field& field, const std::string& text, const char* wanted) {
  constexpr std::size_t kShown = 40;
  std::string shown;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool starts_char = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts_char && ++chars > kShown) {
      shown += "…";
      break;
    }
    shown += text[i];
  }
  return DatasetError(field.DisplayName() + ": \"" + shown + "\" não é " + wanted + ".");
}

}  // namespace

double Field::AsFloat() const {
  if (double d; !calculated_ && owner_->impl_->NumberAt(index_, &d)) return d;
  return FloatOf(*this);
}

DateTime Field::AsDateTime() const {
  const Variant& v = owner_->CellRef(index_);
  if (const DateTime* d = v.IfDateTime()) return *d;
  try {
    return v.IsEmptyOrNull() ? Variant().ToDateTime() : v.ToDateTime();
  } catch (const VariantConversionError& e) {
    throw DatasetError("field " + def_.name + ": " + e.what());
  }
}

void Field::SetAsString(const std::string& text) {
  if (def_.type == FieldType::DateTime && !text.empty()) {
    DateTime d;
    if (!DateTime::TryFromIso(text, &d)) {
      try {
        d = DateTime::FromBrazilian(Trim(text));
      } catch (const Error&) {
        throw UnreadableText(*this, text, "uma data válida");
      }
    }
    SetValue(Variant(d));
    return;
  }
  if (IsNumericType(def_.type) && !text.empty()) {
    const auto number = ParseNumber(text);
    if (!number) throw UnreadableText(*this, text, "um número válido");
    SetValue(Variant(*number));
    return;
  }
  SetValue(Variant(text));
}

void Field::SetAsFloat(double value) { SetValue(Variant(value)); }
void Field::Clear() { SetValue(Variant::Null()); }
Variant Field::OldValue() const { return owner_->GetOldCell(index_); }

namespace {

// A float without a format shows fifteen significant digits, so that a
// computed 12 × 0.012 reads "0,144", not the binary remainder
// "0,14400000000000002".
double ToShownDigits(double value) {
  if (!std::isfinite(value)) return value;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  double shown = value;
  std::from_chars(buf, res.ptr, shown);
  return shown;
}

std::string FormatCell(const Field& field, const Variant& v, const std::string& pattern) {
  if (v.IsEmptyOrNull()) return "";
  if (const DateTime* d = v.IfDateTime()) return d->ToBrazilian();
  if (const std::int64_t* i = v.IfInt(); i && pattern.empty()) return std::to_string(*i);
  if (v.IsNumeric() && pattern.empty()) return FormatNumber(pattern, ToShownDigits(v.ToDouble()));
  if (v.IsNumeric()) return FormatNumber(pattern, v.ToDouble());
  return v.ToString();
}

}  // namespace

std::string Field::DisplayText() const {
  if (on_get_text) return on_get_text(const_cast<Field&>(*this), true);
  return FormatCell(*this, owner_->CellRef(index_), display_format);
}

std::string Field::Text() const {
  if (on_get_text) return on_get_text(const_cast<Field&>(*this), false);
  return FormatCell(*this, owner_->CellRef(index_),
                    edit_format.empty() ? display_format : edit_format);
}

void Field::SetText(const std::string& text) {
  if (on_set_text) {
    on_set_text(*this, text);
    return;
  }
  if (def_.type == FieldType::Integer && !text.empty()) {
    const auto number = ParseNumber(text);
    if (!number || *number != static_cast<double>(static_cast<std::int64_t>(*number)))
      throw UnreadableText(*this, text, "um número inteiro");
    SetValue(Variant(static_cast<std::int64_t>(*number)));
    return;
  }
  SetAsString(IsNumericType(def_.type) || def_.type == FieldType::DateTime ? Trim(text) : text);
}

void Field::FocusControl() {
  const auto sources = owner_->impl_->sources;
  for (DataSource* s : sources) s->NotifyFocusField(*this);
}

}  // namespace dg::data
