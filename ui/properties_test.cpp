#include <gtest/gtest.h>

#include "ui/form.h"
#include "ui/properties.h"
#include "ui/user_actions.h"

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

TEST(PropertiesTest, ReadOnlyIsWhatTheUsersTypingMeets) {
  // A session's "readOnly" and the user's typing give one answer for every
  // edit control: a data edit without a field and a drop-down list refuse
  // typing, and say so.
  Form form("frm");
  auto& edt = form.Add<Edit>("edt");
  auto& locked = form.Add<Edit>("locked");
  locked.read_only = true;
  auto& mem = form.Add<Memo>("mem");
  mem.read_only = true;
  auto& ned = form.Add<NumberBox>("ned");
  auto& unbound = form.Add<DBEdit>("unbound");
  auto& list = form.Add<ComboBox>("list");
  auto& free = form.Add<ComboBox>("free");
  free.style = ComboStyle::DropDown;
  auto& btn = form.Add<Button>("btn");
  const std::pair<Control*, std::optional<bool>> cases[] = {
      {&edt, false},    {&locked, true}, {&mem, true},   {&ned, false},
      {&unbound, true}, {&list, true},   {&free, false}, {&btn, std::nullopt},
  };
  for (const auto& [control, read_only] : cases) {
    const std::optional<data::Variant> got = ReadProperty(*control, "readOnly");
    EXPECT_EQ(read_only.has_value(), got.has_value()) << control->Name();
    if (read_only && got) {
      EXPECT_EQ(data::Variant(*read_only), *got) << control->Name();
    }
    const bool refused = UserType(*control, "1") == Outcome::ReadOnly;
    EXPECT_EQ(read_only.value_or(true), refused) << control->Name();
  }
}

}  // namespace
}  // namespace dg::ui
