// A cell of a PostgreSQL result in text format, read by its column's type
// (pg_type.oid): booleans and integers as Int, floating point and numeric as
// Double, anything else as its text. No libpq here: callers pass what
// PQgetvalue, PQgetlength and PQftype give, after checking PQgetisnull.
#pragma once

#include "data/variant.h"

namespace dg::data {

Variant PgCell(const char* text, int length, unsigned int type_oid);

}  // namespace dg::data
