#include "screen/globals.h"

namespace dg::screen {

std::string stNrGrade;
std::string stFilial;
std::string stGrade;
std::string stVeiculo;
std::string statusData;

bool boIdCriado = false;
bool boCalculaPeso = false;
bool boExpedir = false;

TfrmGradeDistribuicao* frmGradeDistribuicao = nullptr;

bool* PboOpcao = nullptr;
std::string* PNrGradeDistr = nullptr;
std::string* PstNrInsc = nullptr;
std::string* PstTpTrans = nullptr;
std::string* PstIdFrete = nullptr;

}  // namespace dg::screen
