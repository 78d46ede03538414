// The loading manifest (romaneio de carga) of a grid: one page set per
// vehicle with the grid, the transporter and the freight mode, the vehicle
// and its capacities, the stops in delivery order with their order items,
// totals per stop and per vehicle against the capacity, and the route.
//
// Built from the server's answer to GetRomaneio, in Brazilian Portuguese,
// as a ui::Report that the view prints (the Qt view writes it as PDF).
#pragma once

#include <string>
#include <vector>

#include "data/rpc.h"
#include "data/variant.h"
#include "ui/report.h"

namespace dg::host {

// The report of GetRomaneio's answer; `issued` is the time of printing as
// the clerk reads it ("15/07/2025 08:30"). Dates the server stores in UTC
// are shown in the machine's local time. Throws Error for an answer of
// another shape.
// With a `vehicle`, only that vehicle's pages (Error when the grid has no
// such vehicle).
ui::Report ManifestReport(const data::Variant& romaneio, const std::string& issued,
                          const std::string& vehicle = "");

// The vehicles of GetRomaneio's answer, in its order.
std::vector<std::string> ManifestVehicles(const data::Variant& romaneio);

// Asks the server for the grid's manifest (GetRomaneio). A grid still open
// prints `type` and `freight` (the transport type and freight mode the
// screen shows), where given. Throws the server's refusal (unknown or
// discarded grid) as it comes.
data::Variant FetchRomaneio(data::CallTransport& transport, const std::string& branch,
                            const std::string& grid, const std::string& type = "",
                            const std::string& freight = "");

// The time of printing, now, as ManifestReport's `issued`.
std::string IssuedNow();

// Asks the server for the grid's manifest and builds it, issued now (one
// vehicle's pages, when `vehicle` is given).
ui::Report FetchManifest(data::CallTransport& transport, const std::string& branch,
                         const std::string& grid, const std::string& vehicle = "",
                         const std::string& type = "", const std::string& freight = "");

// "romaneio-0001-000001.pdf"; one vehicle's: "romaneio-0001-000001-0101.pdf".
std::string ManifestFileName(const std::string& branch, const std::string& grid,
                             const std::string& vehicle = "");

// The freight mode as the dispatch note names it: "1 - Contratação do
// Frete por Conta do Destinatário (FOB)"; "" for none.
std::string FreightModeText(const std::string& code);

}  // namespace dg::host
