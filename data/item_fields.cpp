#include "data/item_fields.h"

namespace dg::data {

const std::vector<ItemFieldSpec>& ItemFields() {
  static const std::vector<ItemFieldSpec> kFields = {
      {"NRPEDIDO", FieldType::String, 10, false, false, true, "Pedido", "", "", ""},
      {"DTENTPED", FieldType::DateTime, 0, false, false, false, "Data Entrega", "", "", ""},
      {"NRITEMPED", FieldType::String, 10, false, false, false, "Item Pedido", "", "", ""},
      {"CDARVPROD", FieldType::String, 20, false, false, true, "Produto", "", "", ""},
      {"QTDEAEXP", FieldType::Double, 0, false, false, true, "Qtde. Expedir", "0.000", "", ""},
      {"VRPESOITEM", FieldType::Double, 0, false, true, true, "Peso ", "0.00000", "", ""},
      {"CDPRODUTO", FieldType::String, 10, false, false, false, "Produto", "", "", ""},
      {"NMPRODUTO", FieldType::String, 50, false, false, false, "Nome do Produto", "", "", ""},
      {"QTITEMPED", FieldType::Double, 0, false, false, false, "Qtde Pedida", "0.000", "", ""},
      {"IDCHECK", FieldType::String, 1, false, false, false, "4", "", "", ""},
      {"NMFANTCLIE", FieldType::String, 50, false, false, false, "Cliente", "", "", ""},
      {"QTEXPITEMPED", FieldType::Double, 0, false, false, false, "Qtde Expedida", "0.000", "", ""},
      {"CDFILIAL", FieldType::String, 4, false, false, false, "", "", "", ""},
      {"SGUNIDADE", FieldType::String, 10, false, false, false, "Un.", "", "", ""},
      {"CDCLIENTE", FieldType::String, 21, false, false, false, "", "", "", ""},
      {"IDTPIJURTRAN", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"NRINSJURTRAN", FieldType::String, 20, false, false, false, "", "", "", ""},
      {"CDTIPTRANS", FieldType::String, 4, false, false, false, "", "", "", ""},
      {"CDMODPGTO", FieldType::String, 5, false, false, false, "", "", "", ""},
      {"VRPREUNITPED", FieldType::Double, 0, false, false, false, "Preço Unit.", "#,##0.000", "", ""},
      {"IDPRIOPED", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"VRPEDENFPED", FieldType::Double, 0, false, false, false, "", "", "", ""},
      {"IDPGFRETTRAN", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"IDTPFORPGTPED", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"IDUTDIAPAGPED", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"NRDIAPGFIXPED", FieldType::Double, 0, false, false, false, "", "", "", ""},
      {"NRPARCPGTOPED", FieldType::Double, 0, false, false, false, "", "", "", ""},
      {"VRFATPRECO", FieldType::Double, 0, false, false, false, "Fator", "0.00", "0.00", ""},
      {"CDPRODESTO", FieldType::String, 10, false, false, false, "", "", "", ""},
      {"VRFATOCONV", FieldType::Double, 0, false, false, false, "", "", "", ""},
      {"CDFILIALPED", FieldType::String, 4, false, false, false, "", "", "", ""},
      {"NMFANVEN", FieldType::String, 50, false, false, false, "Vendedor", "", "", ""},
      {"CDVENDEDOR", FieldType::String, 4, false, false, false, "Vendedor", "", "", ""},
      {"NMFANTTRAN", FieldType::String, 40, false, false, false, "", "", "", ""},
      {"NMTIPTRANS", FieldType::String, 40, false, false, false, "", "", "", ""},
      {"NRPLACAVEPED", FieldType::String, 7, false, false, false, "", "", "", "lll 9999;0; "},
      {"SGUFVEICPED", FieldType::String, 2, false, false, false, "", "", "", ""},
      {"DSQTDEVOLPED", FieldType::String, 6, false, false, false, "", "", "", ""},
      {"DSESPEVOLPED", FieldType::String, 10, false, false, false, "", "", "", ""},
      {"DSMARCVOLPED", FieldType::String, 10, false, false, false, "", "", "", ""},
      {"DSNUMEVOLPED", FieldType::String, 15, false, false, false, "", "", "", ""},
      {"VRPBRUVOLPED", FieldType::Double, 0, false, false, false, "Peso Bruto", "0.000", "", ""},
      {"VRPLIQVOLPED", FieldType::Double, 0, false, false, false, "", "0.000", "", ""},
      {"VRDESITPED", FieldType::Double, 0, false, false, false, "Vr. Desc.", "#,##0.00", "0.00", ""},
      {"CDTIPOOPER", FieldType::String, 2, false, false, false, "", "", "", ""},
      {"IDGERANFPEDI", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"QTEXPDISP", FieldType::Double, 0, false, false, false, "", "", "", ""},
      {"VRPESOBRUTPR", FieldType::Double, 0, false, false, false, "", "", "", ""},
      {"DTVALIPED", FieldType::DateTime, 0, false, false, false, "", "", "", ""},
      {"IDITPEDRESER", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"IDITPEDDIFER", FieldType::String, 1, false, false, false, "Per.", "", "", ""},
      {"DSITEMPED", FieldType::String, 2000, false, false, false, "", "", "", ""},
      {"NMRAZSOCCLIE", FieldType::String, 50, false, false, false, "Cliente/Filial Destino", "", "", ""},
      {"CDPRECOBASE", FieldType::String, 2, false, false, false, "", "", "", ""},
      {"IDORIGDESTOP", FieldType::String, 2000, false, false, false, "", "", "", ""},
      {"VrTotal", FieldType::Double, 0, false, false, false, "", "0.00", "", ""},
      {"VrFinal", FieldType::Double, 0, false, false, false, "Preço Final", "0.00", "0.00", ""},
      {"VrCusto", FieldType::Double, 0, false, false, false, "Vr. Custo", "0.00000", "0.00000", ""},
      {"VRTOTLIQ", FieldType::Double, 0, false, false, false, "Vr. Líquido", "0.00", "0.00", ""},
      {"PESOBRUTO", FieldType::Double, 0, false, false, false, "Peso Bruto", "#,##0.000", "", ""},
      {"DTPEDIDO", FieldType::DateTime, 0, false, false, false, "", "", "", ""},
      {"VRDESCITEM", FieldType::Double, 0, false, false, false, "Vr. Desc", "#,##0.00", "", ""},
      {"IDSITITEMPED", FieldType::String, 1, false, false, false, "", "", "", ""},
      {"CDFILIALORC", FieldType::String, 4, false, false, false, "Filial Orc.", "", "", ""},
      {"NRORCAEVENTO", FieldType::String, 10, false, false, false, "Nr. Orçamento", "", "", ""},
      {"NRSEQORCAEVE", FieldType::String, 2, true, false, false, "Seq.", "", "", ""},
      {"CDDEPTO", FieldType::String, 3, false, false, false, "Cód. Depto", "", "", ""},
      {"PESOLIQUIDO", FieldType::Double, 0, false, false, false, "Peso Liquido", "#,##0.000", "", ""},
      {"CDROTATRANSPED", FieldType::String, 6, false, false, false, "", "", "", ""},
      {"NMROTATRANS", FieldType::String, 40, false, false, false, "", "", "", ""},
      {"VRVOLUMEITEM", FieldType::Double, 0, false, true, true, "Volume", "", "", ""},
      {"VRVOLMED", FieldType::Double, 0, false, false, false, "", "0.00000", "", ""},
      {"CDROTAFILIAL", FieldType::String, 6, false, false, false, "", "", "", ""},
  };
  return kFields;
}

std::vector<FieldDef> ItemPacketFields() {
  std::vector<FieldDef> out;
  for (const auto& f : ItemFields())
    if (!f.calculated) out.push_back(FieldDef{f.name, f.type, f.size, false, f.fixed});
  return out;
}

}  // namespace dg::data
