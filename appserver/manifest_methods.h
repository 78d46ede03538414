// Internal to the server object: what the loading manifest reads, and the
// dispatch that records what it prints. Not a public interface.
#pragma once

#include "appserver/grade_support.h"

namespace dg::server::detail {

// GetRomaneio(branch, grid[, transport type, freight mode]): a variant
// array 0..2 of three packets for the loading manifest of a grid:
//  0. the grid (one row): branch with its name, address and CEP; number,
//     state, opened and dispatched when and by whom; transport type and
//     freight mode as the dispatch recorded them (for a grid still open,
//     the ones given, when given); the first delivery day;
//  1. its vehicles (those that carry something, by code): description,
//     capacities, transporter (person type, inscription, name), the weight
//     and volume they carry, the route's distance, time and itinerary;
//  2. its lines: every allocation in delivery order (grid_lines.h) with
//     the stop's client, address and CEP and the item's product, name and
//     unit, quantity, weight, volume and delivery day.
// Refuses an unknown or discarded grid.
data::Variant GetRomaneio(Session& s, Args& a);

// ExpedirGrade(branch, grid, operator[, transport type, freight mode]):
// marks the grid dispatched, recording what it carries on the order items,
// and keeps the transport type and freight mode handed to the dispatch
// note, when given. Answers true; false for a grid dispatched already,
// which it leaves as the first hand-off left it.
data::Variant ExpedirGradeComFrete(Session& s, Args& a);

}  // namespace dg::server::detail
