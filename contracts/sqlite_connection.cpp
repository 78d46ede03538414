#include "contracts/sqlite_connection.h"
