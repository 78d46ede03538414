// The texts of the two look-ups of the transporter panel, per dialect, line
// by line as the queries hold them.
#pragma once

#include <string>
#include <vector>

#include "contracts/query.h"

namespace dg::contracts::lookup {

// Transporters (TRANSPORT) by person type and inscription; a parameter with
// no value matches every row.
inline const std::vector<std::string> kPesqTranSql = {
    "SELECT",
    "   IDTPIJURTRAN,",
    "   NRINSJURTRAN,",
    "   CDTIPTRANS,",
    "   NMFANTTRAN",
    "FROM",
    "   TRANSPORT",
    "WHERE",
    "   (IDTPIJURTRAN = NVL(:P_IDTPIJURTRAN, IDTPIJURTRAN)) AND",
    "   (NRINSJURTRAN = NVL(:P_NRINSJURTRAN, NRINSJURTRAN))",
};
inline const std::vector<std::string> kPesqTranSqlOracle = kPesqTranSql;
inline const std::vector<std::string> kPesqTranSqlMsSql = {
    "SELECT",
    "   IDTPIJURTRAN,   NRINSJURTRAN,   CDTIPTRANS,",
    "   NMFANTTRAN",
    "FROM",
    "   TRANSPORT",
    "WHERE",
    "   (IDTPIJURTRAN = ISNULL(:P_IDTPIJURTRAN, IDTPIJURTRAN)) AND",
    "   (NRINSJURTRAN = ISNULL(:P_NRINSJURTRAN, NRINSJURTRAN))",
};
inline const std::vector<std::string> kPesqTranSqlIb = {
    "SELECT",
    "   IDTPIJURTRAN,   NRINSJURTRAN,   CDTIPTRANS,",
    "   NMFANTTRAN",
    "FROM",
    "   TRANSPORT,",
    "   PARAM(:P_IDTPIJURTRAN) IDTPIJURTRAN,",
    "   PARAM(:P_NRINSJURTRAN) NRINSJURTRAN",
    "WHERE",
    "   (IDTPIJURTRAN = NVLSTR(IDTPIJURTRAN.PARAM, IDTPIJURTRAN)) AND",
    "   (NRINSJURTRAN = NVLSTR(NRINSJURTRAN.PARAM, NRINSJURTRAN))",
    " ",
    " ",
};

// Transport types (TIPOTRANSP) by code, ordered by code; no value matches
// every row.
inline const std::vector<std::string> kTipoTranspSql = {
    "SELECT CDTIPTRANS, NMTIPTRANS",
    "FROM TIPOTRANSP",
    "WHERE",
    "   CDTIPTRANS = NVLSTR(:P_CDTIPTRANS, CDTIPTRANS)",
    "ORDER BY CDTIPTRANS",
};
inline const std::vector<std::string> kTipoTranspSqlOracle = {
    "SELECT CDTIPTRANS, NMTIPTRANS",
    "FROM TIPOTRANSP",
    "WHERE",
    "   CDTIPTRANS = NVL(:P_CDTIPTRANS, CDTIPTRANS)",
    "ORDER BY CDTIPTRANS",
};
inline const std::vector<std::string> kTipoTranspSqlMsSql = {
    "SELECT CDTIPTRANS, NMTIPTRANS",
    "FROM TIPOTRANSP",
    "WHERE",
    "   CDTIPTRANS = ISNULL(:P_CDTIPTRANS, CDTIPTRANS)",
    "ORDER BY CDTIPTRANS",
};
inline const std::vector<std::string> kTipoTranspSqlIb = {
    "SELECT CDTIPTRANS, NMTIPTRANS",
    "FROM",
    "   TIPOTRANSP,",
    "   PARAM(:P_CDTIPTRANS) CDTIPTRANS",
    "WHERE",
    "   CDTIPTRANS = NVLSTR(CDTIPTRANS.PARAM, CDTIPTRANS)",
    "ORDER BY CDTIPTRANS",
    " ",
};

// Fills the four texts of a query.
inline void SetPesqTranTexts(TADOIBQuery& query) {
  query.SQL = kPesqTranSql;
  query.SQL_ORACLE = kPesqTranSqlOracle;
  query.SQL_MSSQL = kPesqTranSqlMsSql;
  query.SQL_IB = kPesqTranSqlIb;
}
inline void SetTipoTranspTexts(TADOIBQuery& query) {
  query.SQL = kTipoTranspSql;
  query.SQL_ORACLE = kTipoTranspSqlOracle;
  query.SQL_MSSQL = kTipoTranspSqlMsSql;
  query.SQL_IB = kTipoTranspSqlIb;
}

}  // namespace dg::contracts::lookup
