#include <gtest/gtest.h>

#include "ui/form.h"
#include "ui/properties.h"

namespace dg::ui {
namespace {

TEST(PropertiesTest, ReadAsExpectationsNameThem) {
  Form form("frm");
  auto& cbb = form.Add<ComboBox>("cbbTipoFrete");
  cbb.items = {"0 - A", "9 - Z"};
  cbb.SetItemIndex(1);
  auto& med = form.Add<MaskEdit>("medCdTransp");
  med.SetText("12345678901");
  med.SetEditMask("999.999.999-99;0; ");
  auto& pages = form.Add<PageControl>("pgcPadrao");
  form.Add<TabSheet>("tbsPedido", &pages);
  auto& rota = form.Add<TabSheet>("tshRota", &pages);
  rota.SetEnabled(false);
  auto& ned = form.Add<NumberBox>("nedPesoTotal");
  ned.decimals = 3;
  ned.SetNumber(12.5);
  auto& grid = form.Add<DataGrid>("dbgPadrao");
  grid.AddColumn("DSTIPOVEIC").read_only = true;
  GridColumn& ret = grid.AddColumn("IDRETGRADEDISTR");
  ret.pick_list = {"Filial", "Transp."};
  ret.button_style = ButtonStyle::None;
  grid.options.editing = false;
  med.SetFocus();

  struct Case {
    const Control* control;
    const char* property;
    data::Variant want;
  } cases[] = {
      {&cbb, "itemIndex", 1},
      {&cbb, "text", "9 - Z"},
      {&med, "text", "12345678901"},
      {&med, "displayText", "123.456.789-01"},
      {&med, "editMask", "999.999.999-99;0; "},
      {&med, "focused", true},
      {&cbb, "focused", false},
      {&pages, "activePage", "tbsPedido"},
      {&rota, "enabled", false},
      {&rota, "visible", true},
      {&ned, "value", 12.5},
      {&ned, "text", "12,500"},
      {&grid, "readOnly", true},
      {&grid, "selectedField", "DSTIPOVEIC"},
  };
  for (const Case& c : cases) {
    std::optional<data::Variant> got = ReadProperty(*c.control, c.property);
    ASSERT_TRUE(got.has_value()) << c.control->Name() << "." << c.property;
    EXPECT_EQ(c.want, *got) << c.control->Name() << "." << c.property;
  }
  EXPECT_FALSE(ReadProperty(cbb, "activePage").has_value());
  EXPECT_FALSE(ReadProperty(cbb, "nonsense").has_value());
  EXPECT_EQ(data::Variant(data::VariantArray({"Filial", "Transp."})),
            ReadColumnProperty(ret, "pickList").value());
  EXPECT_EQ(data::Variant("none"), ReadColumnProperty(ret, "buttonStyle").value());
  EXPECT_FALSE(ReadColumnProperty(ret, "nonsense").has_value());
}

}  // namespace
}  // namespace dg::ui
