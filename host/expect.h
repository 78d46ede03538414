// Expectations of a scripted session: reading a piece of the screen's state
// by key ("cdsVeiculo.count", "medCdTransp.text", "global.stNrGrade") and
// comparing it with the value the session wants.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "host/session.h"
#include "ui/form.h"

namespace dg::host {

// The state the key names, as JSON: numbers, texts, true/false, null for
// an empty value, date-times as "YYYY-MM-DDTHH:MM:SS". For "dataset.rows"
// `want` says which keys of each row are read. None when the key names
// nothing on this form (or the dataset has no such field).
std::optional<nlohmann::json> ReadState(const std::string& key, const nlohmann::json& want,
                                        const ui::Form& form, const GlobalLookup& globals);

// Numbers equal within 1e-9, texts exactly; arrays element by element;
// an object wanted matches an object holding at least its keys with
// matching values.
bool Matches(const nlohmann::json& want, const nlohmann::json& got);

}  // namespace dg::host
