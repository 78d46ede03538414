#include "entry/entry.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "contracts/consiste.h"
#include "contracts/halvorn.h"
#include "data/packet.h"
#include "screen/frm_grade_distribuicao.h"
#include "screen/globals.h"
#include "ui/application.h"

using dg::data::Variant;
namespace screen = dg::screen;

namespace {

// The launch's item packet must carry the item keys and measures the screen
// works by; a packet of anything else fails before the screen is touched.
void CheckItemFields(const Variant& packet) {
  if (packet.Kind() != dg::data::VariantKind::Packet) return;  // refused when loaded
  const dg::data::DataPacket& p = packet.AsPacket();
  for (const char* name :
       {"NRPEDIDO", "NRITEMPED", "QTDEAEXP", "VRPESOBRUTPR", "VRVOLMED", "IDCHECK"}) {
    if (p.FieldIndex(name) < 0) {
      throw dg::Error(std::string("EXP03200: the item packet has no field ") + name);
    }
  }
}

}  // namespace

extern "C" void IniProc(const dg::data::VariantArray& launch) {
  Variant packet = launch.At(0);
  Variant opcao = launch.At(1);
  Variant nr_grade = launch.At(2);
  Variant nr_insc = launch.At(3);
  Variant tp_trans = launch.At(4);
  Variant id_frete = launch.At(5);
  CriaGradeDistribuicao(packet, opcao, nr_grade, nr_insc, tp_trans, id_frete);
}

extern "C" void CriaGradeDistribuicao(Variant& packet, Variant& opcao, Variant& nr_grade,
                                      Variant& nr_insc, Variant& tp_trans, Variant& id_frete) {
  CheckItemFields(packet);
  std::optional<dg::ui::BusyCursor> busy(std::in_place);
  if (!screen::boIdCriado) {
    auto created = std::make_unique<screen::TfrmGradeDistribuicao>();
    created->Create();
    screen::frmGradeDistribuicao = created.release();
    screen::boIdCriado = true;
  }
  screen::PboOpcao = opcao.ToBoolRef();
  screen::PNrGradeDistr = nr_grade.ToStringRef();
  screen::PstNrInsc = nr_insc.ToStringRef();
  screen::PstTpTrans = tp_trans.ToStringRef();
  screen::PstIdFrete = id_frete.ToStringRef();

  screen::TfrmGradeDistribuicao& form = *screen::frmGradeDistribuicao;
  form.cdsExp.SetData(packet);
  form.window_state = dg::ui::WindowState::Normal;
  const std::string filial =
      form.cdsExp.IsEmpty() ? std::string() : form.cdsExp.FieldByName("CDFILIAL").AsString();
  screen::stFilial =
      dg::contracts::Consiste::EmptyString(filial) ? dg::contracts::Halvorn::FiliProc() : filial;
  busy.reset();

  form.ShowModal();
  if (form.DisposeRequested() && !screen::boIdCriado) {
    delete screen::frmGradeDistribuicao;
    screen::frmGradeDistribuicao = nullptr;
  }
}

extern "C" dg::ui::Form* EXP03200_Screen() { return screen::frmGradeDistribuicao; }

extern "C" bool EXP03200_Global(const char* name, Variant* out) {
  if (name == nullptr || out == nullptr) return false;
  struct Text {
    const char* name;
    const std::string* value;
  };
  for (const Text& t : {Text{"stNrGrade", &screen::stNrGrade}, Text{"stFilial", &screen::stFilial},
                        Text{"stGrade", &screen::stGrade}, Text{"stVeiculo", &screen::stVeiculo},
                        Text{"statusData", &screen::statusData}}) {
    if (std::strcmp(name, t.name) == 0) {
      *out = Variant(*t.value);
      return true;
    }
  }
  // What a dispatch would hand back now, for a check copy of the manifest.
  if (screen::frmGradeDistribuicao != nullptr && std::strcmp(name, "TpTransDespacho") == 0) {
    *out = Variant(screen::frmGradeDistribuicao->TpTransDespacho());
    return true;
  }
  if (screen::frmGradeDistribuicao != nullptr && std::strcmp(name, "IdFreteDespacho") == 0) {
    *out = Variant(screen::frmGradeDistribuicao->IdFreteDespacho());
    return true;
  }
  struct Flag {
    const char* name;
    const bool* value;
  };
  for (const Flag& f :
       {Flag{"boIdCriado", &screen::boIdCriado}, Flag{"boCalculaPeso", &screen::boCalculaPeso},
        Flag{"boExpedir", &screen::boExpedir}}) {
    if (std::strcmp(name, f.name) == 0) {
      *out = Variant(*f.value);
      return true;
    }
  }
  return false;
}
