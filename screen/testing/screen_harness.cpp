#include "screen/testing/screen_harness.h"

#include "contracts/query.h"
#include "data/item_fields.h"
#include "entry/entry.h"
#include "screen/globals.h"

namespace dg::screen::testing {

void ScriptedWindows::Queue(const std::string& form_name, Session session) {
  sessions_[form_name].push_back(std::move(session));
}

void ScriptedWindows::ShowModal(ui::Form& form) {
  form.Activate();
  auto& queue = sessions_[form.Name()];
  if (!queue.empty()) {
    Session session = std::move(queue.front());
    queue.pop_front();
    session(form);
  }
  if (!form.IsOpen()) return;
  if (dialogs != nullptr) dialogs->QueueAnswer(ui::Answer::Yes);
  form.Close();
  if (form.IsOpen()) throw Error("form " + form.Name() + " refused to close");
}

std::string CallerVars::Print() const {
  return std::string(opcao ? "true" : "false") + " '" + nr_grade + "' '" + nr_insc + "' '" +
         tp_trans + "' '" + id_frete + "'";
}

data::DataPacket ItemPacket(const std::vector<ItemRow>& rows) {
  data::DataPacket packet;
  packet.fields = data::ItemPacketFields();
  for (const ItemRow& row : rows) {
    std::vector<data::Variant> cells;
    for (const data::FieldDef& f : packet.fields) {
      auto it = row.find(f.name);
      if (it == row.end() || it->second.IsEmptyOrNull()) {
        cells.push_back(data::Variant::Null());
      } else if (f.type == data::FieldType::Double) {
        cells.push_back(data::Variant(it->second.ToDouble()));
      } else if (f.type == data::FieldType::DateTime) {
        cells.push_back(data::Variant(it->second.ToDateTime()));
      } else {
        cells.push_back(data::Variant(it->second.ToString()));
      }
    }
    packet.rows.push_back(std::move(cells));
  }
  return packet;
}

ScreenHarness::ScreenHarness() {
  if (frmGradeDistribuicao != nullptr) delete frmGradeDistribuicao;
  frmGradeDistribuicao = nullptr;
  stNrGrade.clear();
  stFilial.clear();
  stGrade.clear();
  stVeiculo.clear();
  statusData.clear();
  boIdCriado = boCalculaPeso = boExpedir = false;
  PboOpcao = nullptr;
  PNrGradeDistr = PstNrInsc = PstTpTrans = PstIdFrete = nullptr;

  windows.dialogs = &dialogs;
  scoped_ = std::make_unique<ui::ScopedDialogs>(&dialogs, &windows);
  host.branch = "0001";
  host.operator_code = "ANA";
  host.picture = "";
  contracts::Halvorn::SetHost(&host);
  db = std::make_unique<contracts::SqliteConnection>(":memory:");
  db->Execute(
      "CREATE TABLE TRANSPORT (IDTPIJURTRAN TEXT, NRINSJURTRAN TEXT, NMFANTTRAN TEXT, "
      "CDTIPTRANS TEXT);"
      "INSERT INTO TRANSPORT VALUES ('J', '11222333000181', 'Rápido Sul', '0001');"
      "INSERT INTO TRANSPORT VALUES ('F', '12345678909', 'João Fretes', '0002');"
      "CREATE TABLE TIPOTRANSP (CDTIPTRANS TEXT, NMTIPTRANS TEXT);"
      "INSERT INTO TIPOTRANSP VALUES ('0001', 'Rodoviário');"
      "INSERT INTO TIPOTRANSP VALUES ('0002', 'Fluvial');");
  contracts::SetDefaultDatabase(db.get());
  ui::App().on_error_report = [this](const std::string& text) { failures.push_back(text); };
  server.Answer("PrxNrGrade", data::Variant("17"));
}

ScreenHarness::~ScreenHarness() {
  if (frmGradeDistribuicao != nullptr) delete frmGradeDistribuicao;
  frmGradeDistribuicao = nullptr;
  boIdCriado = false;
  ui::App().on_error_report = nullptr;
  contracts::SetDefaultDatabase(nullptr);
  contracts::Halvorn::SetHost(nullptr);
}

void ScreenHarness::Parametros(const std::string& modo, const std::string& insc,
                               const std::string& tipo) {
  server.Answer("GetParametros",
                data::Variant(Table({"API", "IDEXITRANSPDIST", "NRINSJURTRAN", "CDTIPTRANS"},
                                    {{"key", modo, insc, tipo}})));
}

void ScreenHarness::Launch(const std::vector<ItemRow>& items, ScriptedWindows::Session session) {
  windows.Queue("frmGradeDistribuicao", std::move(session));
  data::VariantArray launch(
      {data::Variant(ItemPacket(items)), data::Variant::RefTo(&vars.opcao),
       data::Variant::RefTo(&vars.nr_grade), data::Variant::RefTo(&vars.nr_insc),
       data::Variant::RefTo(&vars.tp_trans), data::Variant::RefTo(&vars.id_frete)});
  IniProc(launch);
}

void ScreenHarness::Answers(std::initializer_list<ui::Answer> answers) {
  for (ui::Answer a : answers) dialogs.QueueAnswer(a);
}

void ScreenHarness::Do(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    ui::App().HandleException(std::current_exception());
  }
}

}  // namespace dg::screen::testing
