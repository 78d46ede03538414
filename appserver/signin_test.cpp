// Operators, their sign-in and sessions, and the branches each may touch.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "appserver/journal.h"
#include "appserver/operators.h"
#include "appserver/sessions.h"
#include "appserver/testing/operator_test_support.h"
#include "appserver/testing/test_support.h"

namespace dg::server {
namespace {

using data::Variant;
using namespace testing;

TEST(Operators, BranchListsAndCodes) {
  EXPECT_EQ((std::vector<std::string>{"0001", "0002"}), ParseBranchList(" 2, 0001 ,1"));
  EXPECT_EQ((std::vector<std::string>{"*"}), ParseBranchList("*"));
  EXPECT_EQ((std::vector<std::string>{"AB12"}), ParseBranchList("AB12"));
  for (const char* bad : {"", "0001,", ",", "00001", "00-1", "*,0001", "0001;0002"}) {
    EXPECT_THROW(ParseBranchList(bad), Error) << bad;
  }
  EXPECT_TRUE(CoversBranch({"0001", "0002"}, "0002"));
  EXPECT_FALSE(CoversBranch({"0001"}, "0002"));
  EXPECT_FALSE(CoversBranch({"0001"}, "*"));
  EXPECT_TRUE(CoversBranch({"*"}, "0009"));
  EXPECT_TRUE(CoversBranch({"*"}, "*"));

  EXPECT_NO_THROW(CheckOperatorCode("ANA.SILVA-2"));
  for (const char* bad : {"", "ANA SILVA", "ANA'--", "ÁNA", "A\n"}) {
    EXPECT_THROW(CheckOperatorCode(bad), Error) << bad;
  }
  EXPECT_THROW(CheckOperatorCode(std::string(41, 'A')), Error);
  EXPECT_THROW(CheckNewPassword("1234567"), Error);
  EXPECT_THROW(CheckNewPassword("12345678\t"), Error);
  EXPECT_NO_THROW(CheckNewPassword("12345678"));
}

TEST(Operators, PasswordsAreKeptAsSaltedArgon2idHashesOnly) {
  const std::string a = HashPassword(kPassword), b = HashPassword(kPassword);
  EXPECT_EQ(0u, a.rfind("$argon2id$", 0)) << a;
  EXPECT_NE(a, b) << "the same password must get a different salt";
  EXPECT_EQ(std::string::npos, a.find(kPassword));
  EXPECT_TRUE(PasswordMatches(a, kPassword));
  EXPECT_FALSE(PasswordMatches(a, "cavalo corret"));
  EXPECT_FALSE(PasswordMatches("", kPassword));
  EXPECT_FALSE(PasswordMatches("not a hash", kPassword));

  TempDatabase db;
  AddOperator(*db.storage(), "ANA", kPassword, {"0001"});
  EXPECT_THROW(AddOperator(*db.storage(), "ANA", kPassword, {"0002"}), Error);
  EXPECT_THROW(AddOperator(*db.storage(), "BIA", kPassword, {}), Error);
  EXPECT_THROW(SetOperatorPassword(*db.storage(), "NINGUEM", kPassword), Error);
  EXPECT_THROW(DisableOperator(*db.storage(), "NINGUEM"), Error);
  db.storage()->Transact(TxKind::Read, [&](Session& s) {
    const std::string stored = Str(s.Query("SELECT DSSENHA FROM OPERADOR")[0][0]);
    EXPECT_EQ(0u, stored.rfind("$argon2id$", 0));
    EXPECT_TRUE(PasswordMatches(stored, kPassword));
  });
  const std::vector<OperatorInfo> list = ListOperators(*db.storage());
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("ANA", list[0].code);
  EXPECT_TRUE(list[0].active);
  EXPECT_EQ(std::vector<std::string>{"0001"}, list[0].branches);
}

// A sign-in service on a database with ANA (branch 0001) and ZE (every
// branch), on a clock the test moves.
class SignInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SeedSignInDatabase(*db_.storage());
    settings_.idle = std::chrono::seconds(600);
    settings_.lock_after = 3;
    settings_.address_lock_after = 5;
    settings_.lock_for = std::chrono::seconds(900);
    settings_.failure_delay = std::chrono::milliseconds(0);
    settings_.refusals_per_minute = 100;
    settings_.clock = [this] { return now_.load(); };
    service_ = std::make_shared<SignInService>(db_.storage(), settings_);
  }

  std::string Refusal(const std::string& op, const std::string& password,
                      const std::string& address = "10.0.0.1") {
    try {
      service_->SignIn(op, password, address);
      return "signed in";
    } catch (const SignInError& e) {
      return e.what();
    }
  }

  TempDatabase db_;
  SignInSettings settings_;
  std::atomic<std::int64_t> now_{1'800'000'000};
  std::shared_ptr<SignInService> service_;
};

TEST_F(SignInTest, ATokenOpensASessionUntilItIdlesOut) {
  SessionInfo info;
  const std::string token = service_->SignIn("ANA", kPassword, "10.0.0.1", &info);
  EXPECT_EQ(64u, token.size());
  EXPECT_EQ(std::string::npos, token.find_first_not_of("0123456789abcdef"));
  EXPECT_EQ(std::vector<std::string>{"0001"}, info.branches);
  EXPECT_NE(token, service_->SignIn("ANA", kPassword, "10.0.0.1"));

  // Use keeps it open; idleness ends it.
  for (int i = 0; i < 5; ++i) {
    now_ += 500;
    ASSERT_TRUE(service_->Resolve(token)) << i;
  }
  now_ += 601;
  EXPECT_FALSE(service_->Resolve(token));
  now_ -= 601;
  EXPECT_FALSE(service_->Resolve(token)) << "an expired session is gone for good";

  // Forged tokens: one changed digit, the database's own hash of a token,
  // a malformed one.
  const std::string live = service_->SignIn("ANA", kPassword, "10.0.0.1");
  std::string forged = live;
  forged[10] = forged[10] == 'a' ? 'b' : 'a';
  EXPECT_FALSE(service_->Resolve(forged));
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    for (const Row& r : s.Query("SELECT DSTOKEN FROM SESSAO")) {
      EXPECT_NE(live, Str(r[0])) << "the database keeps the token itself";
      EXPECT_FALSE(service_->Resolve(Str(r[0])));
    }
  });
  EXPECT_FALSE(service_->Resolve(""));
  EXPECT_FALSE(service_->Resolve(live + "0"));
  EXPECT_TRUE(service_->Resolve(live));
  service_->SignOut(live);
  EXPECT_FALSE(service_->Resolve(live));
}

TEST_F(SignInTest, ARefusalNeverSaysWhichPartWasWrong) {
  // Each from an address of its own, below every lock.
  EXPECT_EQ(kSignInRefused, Refusal("ANA", "senha errada", "10.0.0.1"));
  EXPECT_EQ(kSignInRefused, Refusal("NINGUEM", kPassword, "10.0.0.2"));
  EXPECT_EQ(kSignInRefused, Refusal("NINGUEM", "senha errada", "10.0.0.3"));
  EXPECT_EQ(kSignInRefused, Refusal("ANA", "", "10.0.0.4"));
  EXPECT_EQ(kSignInRefused, Refusal("ANA SILVA'--", kPassword, "10.0.0.5"));
  DisableOperator(*db_.storage(), "ZE");
  EXPECT_EQ(kSignInRefused, Refusal("ZE", kPassword, "10.0.0.6")) << "a disabled operator";
}

TEST_F(SignInTest, FailuresLockTheOperatorAndTheAddressForAWhile) {
  // Three failures of ANA, from different addresses, lock ANA: the right
  // password is refused too, and says so in words that fit any operator.
  for (int i = 0; i < 3; ++i) Refusal("ANA", "senha errada", "10.0.1." + std::to_string(i));
  EXPECT_EQ(kSignInLocked, Refusal("ANA", kPassword, "10.0.2.1"));
  EXPECT_EQ("signed in", Refusal("ZE", kPassword, "10.0.2.1")) << "others are not locked";
  for (int i = 0; i < 3; ++i) Refusal("NINGUEM", "x", "10.0.3." + std::to_string(i));
  EXPECT_EQ(kSignInLocked, Refusal("NINGUEM", kPassword, "10.0.2.1"))
      << "an unknown code locks the same way, so a lock does not tell it exists";
  now_ += 901;
  EXPECT_EQ("signed in", Refusal("ANA", kPassword, "10.0.2.1"));

  // Five failures from one address, whatever the operator, lock the address.
  for (const char* op : {"A1", "A2", "A3", "A4", "A5"}) Refusal(op, "x", "10.9.9.9");
  EXPECT_EQ(kSignInLocked, Refusal("ZE", kPassword, "10.9.9.9"));
  EXPECT_EQ("signed in", Refusal("ZE", kPassword, "10.9.9.8"));

  // A success clears the operator's count.
  Refusal("ANA", "x");
  Refusal("ANA", "x");
  EXPECT_EQ("signed in", Refusal("ANA", kPassword));
  Refusal("ANA", "x");
  Refusal("ANA", "x");
  EXPECT_EQ("signed in", Refusal("ANA", kPassword));

  // Every attempt is journaled, none with the password.
  for (const JournalRow& r : ReadJournal(*db_.storage(), {})) {
    EXPECT_EQ("Entrar", r.method);
    EXPECT_EQ(std::string::npos, r.note.find(kPassword));
  }
}

TEST_F(SignInTest, AnOperatorCodeNobodyHasIsKeptOnlyByItsLength) {
  // A password typed in the operator field: neither the journal nor the
  // failure counts may keep it.
  const std::string typed = "senha-ana-123";
  EXPECT_EQ(kSignInRefused, Refusal(typed, "ana"));
  EXPECT_EQ(kSignInRefused, Refusal("ANA", "errada"));
  std::string notes;
  for (const JournalRow& r : ReadJournal(*db_.storage(), {})) {
    EXPECT_EQ(std::string::npos, r.operator_code.find(typed));
    EXPECT_EQ(std::string::npos, r.note.find(typed));
    notes += r.operator_code + " " + r.note + "\n";
  }
  EXPECT_NE(std::string::npos, notes.find("? entrada recusada: operador desconhecido de 13 bytes"))
      << notes;
  EXPECT_NE(std::string::npos, notes.find("ANA entrada recusada (10.0.0.1)")) << notes;
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    for (const Row& r : s.Query("SELECT DSCHAVE FROM FALHAENTRADA")) {
      const std::string key = Str(r[0]);
      EXPECT_EQ(std::string::npos, key.find("senha")) << key;
      EXPECT_TRUE(key == "op:ANA" || key == "ip:10.0.0.1" || key.rfind("op?:", 0) == 0) << key;
      if (key.rfind("op?:", 0) == 0) {
        EXPECT_EQ(8u, key.size()) << key;
      }
    }
  });
}

// Sign-ins of one operator, and from one address, that arrive at the same
// moment: no more of them than the limit reach the password check.
class SignInRace : public ::testing::TestWithParam<Backend> {};

TEST_P(SignInRace, SignInsArrivingTogetherAreCountedBeforeTheirPasswordIsChecked) {
  TempDatabase db(GetParam());
  if (!db.storage()) GTEST_SKIP() << db.skip_reason();
  SeedSignInDatabase(*db.storage());
  SignInSettings settings;
  settings.lock_after = 5;
  settings.address_lock_after = 8;
  settings.failure_delay = std::chrono::milliseconds(0);
  SignInService service(db.storage(), settings);

  // 24 wrong passwords of ANA at once, from addresses of their own; then 24
  // unknown codes at once from one address.
  auto run = [&](auto attempt) {
    std::vector<std::string> answers(24);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 24; ++i) {
      threads.emplace_back([&, i] {
        ++ready;
        while (ready < 24) std::this_thread::yield();
        try {
          attempt(i);
          answers[i] = "signed in";
        } catch (const SignInError& e) {
          answers[i] = e.what();
        }
      });
    }
    for (auto& t : threads) t.join();
    return answers;
  };
  auto judged = [](const std::vector<std::string>& answers) {
    int n = 0;
    for (const std::string& a : answers) {
      EXPECT_TRUE(a == kSignInLocked || a == kSignInRefused || a == "signed in") << a;
      n += a != kSignInLocked;
    }
    return n;
  };
  const auto by_operator =
      run([&](int i) { service.SignIn("ANA", "errada", "10.1.0." + std::to_string(i)); });
  EXPECT_EQ(5, judged(by_operator));
  EXPECT_THROW(
      {
        try {
          service.SignIn("ANA", kPassword, "10.1.1.1");
        } catch (const SignInError& e) {
          EXPECT_STREQ(kSignInLocked, e.what());
          throw;
        }
      },
      SignInError)
      << "the right password after the guesses is locked out too";
  const auto by_address =
      run([&](int i) { service.SignIn("X" + std::to_string(i), "errada", "10.2.0.1"); });
  EXPECT_EQ(8, judged(by_address));
}

INSTANTIATE_TEST_SUITE_P(Backends, SignInRace,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return BackendName(info.param); });

TEST_F(SignInTest, APasswordLongerThanAnyOperatorMayHaveIsRefusedAsSuch) {
  const std::string longest(kMaxPasswordBytes, 'x');
  AddOperator(*db_.storage(), "LONGA", longest, {"0001"});
  EXPECT_EQ("signed in", Refusal("LONGA", longest));
  EXPECT_THROW(SetOperatorPassword(*db_.storage(), "LONGA", longest + "x"), Error);

  // Known operator or not, with the right password as its start or not;
  // more of them than lock an operator or an address.
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(kSignInTooLong, Refusal("LONGA", longest + "x")) << i;
    EXPECT_EQ(kSignInTooLong, Refusal("NINGUEM", std::string(1 << 20, 'y'))) << i;
  }
  EXPECT_EQ("signed in", Refusal("LONGA", longest)) << "a refusal before hashing locks nothing";

  int journaled = 0;
  for (const JournalRow& r : ReadJournal(*db_.storage(), {})) {
    if (r.note.find("senha longa demais") != std::string::npos) ++journaled;
    EXPECT_EQ(std::string::npos, r.note.find("xxxxxxxx"));
  }
  EXPECT_EQ(12, journaled);
}

TEST_F(SignInTest, DisablingOrANewPasswordEndsTheOperatorsOpenSessions) {
  const std::string ana = service_->SignIn("ANA", kPassword, "10.0.0.1");
  const std::string ana2 = service_->SignIn("ANA", kPassword, "10.0.0.2");
  const std::string ze = service_->SignIn("ZE", kPassword, "10.0.0.3");
  SetOperatorPassword(*db_.storage(), "ZE", "outra senha boa");
  EXPECT_FALSE(service_->Resolve(ze));
  EXPECT_TRUE(service_->Resolve(ana));
  DisableOperator(*db_.storage(), "ANA");
  EXPECT_FALSE(service_->Resolve(ana));
  EXPECT_FALSE(service_->Resolve(ana2));
  EXPECT_EQ(kSignInRefused, Refusal("ZE", kPassword));
  EXPECT_EQ("signed in", Refusal("ZE", "outra senha boa"));
}

// ---- branch scope --------------------------------------------------------

// Every table's rows, to see that a refused call changed nothing.
std::string Everything(Storage& storage) {
  std::string out;
  storage.Transact(TxKind::Read, [&](Session& s) {
    for (const char* table : {"GRADEDISTR", "ITEMGRADE", "ALOCGRADE", "ITINERARIO", "TOTALROTA"}) {
      for (const Row& r : s.Query(std::string("SELECT * FROM ") + table)) {
        out += table;
        for (const Variant& v : r) {
          out += '|';
          out += Str(v);
        }
        out += "\n";
      }
    }
  });
  return out;
}

class BranchScopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nlohmann::json fixture = SmallFixture();
    // A second branch with an item of its own.
    fixture["PARAMETROS"].push_back({{"CDFILIAL", "0002"}, {"API", "k"}});
    nlohmann::json item = fixture["ITEMPEDIDO"][0];
    item["CDFILIAL"] = "0002";
    item["NRPEDIDO"] = "Q1";
    fixture["ITEMPEDIDO"].push_back(item);
    LoadFixture(*db_.storage(), fixture);
    object_ = std::make_shared<rdmGradeDistribuicao>(db_.storage());
  }

  Variant Call(const CallContext& context, const std::string& method, std::vector<Variant> args) {
    return object_->Call(method, args, context);
  }
  std::string Refusal(const CallContext& context, const std::string& method,
                      std::vector<Variant> args) {
    try {
      object_->Call(method, args, context);
      return "answered";
    } catch (const Error& e) {
      return e.what();
    }
  }

  TempDatabase db_;
  std::shared_ptr<rdmGradeDistribuicao> object_;
  const CallContext ana_{"ANA", std::vector<std::string>{"0001"}, ""};
  const CallContext admin_{"ADM", std::vector<std::string>{"*"}, ""};
};

TEST_F(BranchScopeTest, AnotherBranchIsRefusedBeforeAnythingIsReadOrWritten) {
  const std::string grid = Str(Call(admin_, "PrxNrGrade", {"0002"}));
  const Variant items0002 = Call(admin_, "GetItensExpedicao", {"0002"});
  const Variant items0001 = Call(ana_, "GetItensExpedicao", {"0001"});
  const std::string before = Everything(*db_.storage());
  const std::string refusal = "Operador sem acesso à filial 0002.";
  struct Case {
    const char* method;
    std::vector<Variant> args;
    std::string expected = "Operador sem acesso à filial 0002.";
  } cases[] = {
      {"PrxNrGrade", {"0002"}},
      {"GetParametros", {"0002"}},
      {"GetEndeFilialProc", {"0002"}},
      {"GetItensExpedicao", {"0002"}},
      {"GetItensExpedicao", {""}, "Operador sem acesso a todas as filiais."},
      {"GetGradeporPedido", {"0002", grid}},
      {"DelGrade", {"0002", grid}},
      {"GetRomaneio", {"0002", grid}},
      {"ExpedirGrade", {"0002", grid, "ANA", "0001", "1"}},
      {"SetPedidos", {"0002", "V1", grid}},
      {"GetVeiculo",
       {kKey, Variant(data::DateTime::FromIso("2025-06-10")), "0002", "Q1", "1", grid}},
      // The branch left empty, but the items of another branch in the packet.
      {"DistribuiQuantidades", {items0002, "", kKey, "", "ANA", ""}},
      // Items of both branches.
      {"DistribuiQuantidades", {items0001, "", kKey, "", "ANA", "0002"}},
      // Another branch's journal, and every branch's.
      {"GetGradeLog", {"0002", "", "", ""}},
      {"GetGradeLog", {"", "", "", ""}, "Operador sem acesso a todas as filiais."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, Refusal(ana_, c.method, c.args)) << c.method;
  }
  EXPECT_EQ(before, Everything(*db_.storage()));

  // Each refusal is journaled with its text, under the session's operator.
  JournalFilter refused;
  refused.operator_code = "ANA";
  const std::vector<JournalRow> rows = ReadJournal(*db_.storage(), refused);
  ASSERT_EQ(std::size(cases), rows.size());
  EXPECT_EQ("DelGrade", rows[6].method);
  EXPECT_EQ("0002", rows[6].branch);
  EXPECT_EQ(grid, rows[6].grid);
  EXPECT_EQ(refusal, rows[6].note);

  // Her own branch answers, and every branch's operator may reach 0002.
  EXPECT_EQ("answered", Refusal(ana_, "GetParametros", {"0001"}));
  EXPECT_EQ("answered", Refusal(admin_, "GetItensExpedicao", {""}));
  EXPECT_EQ("answered", Refusal(admin_, "DelGrade", {"0002", grid}));
}

// One operator making refused calls as fast as it can, and one address
// failing sign-ins, leave a few rows a minute and the count of the rest.
TEST_F(BranchScopeTest, AFloodOfRefusalsIsCountedNotWrittenRowByRow) {
  std::int64_t now = 1'800'000'000;
  object_ = std::make_shared<rdmGradeDistribuicao>(
      db_.storage(), std::make_shared<RefusalJournal>(30, [&] { return now; }));
  for (int i = 0; i < 1000; ++i) Refusal(ana_, "PrxNrGrade", {"0002"});
  JournalFilter refused;
  refused.operator_code = "ANA";
  EXPECT_EQ(30u, ReadJournal(*db_.storage(), refused).size());
  now += 60;
  Refusal(ana_, "GetParametros", {"0002"});
  const std::vector<JournalRow> rows = ReadJournal(*db_.storage(), refused);
  ASSERT_EQ(31u, rows.size());
  EXPECT_EQ(
      "Operador sem acesso à filial 0002. (e mais 970 recusas antes desta, não registradas uma a "
      "uma)",
      rows.back().note);

  SignInSettings settings;
  settings.failure_delay = std::chrono::milliseconds(0);
  settings.refusals_per_minute = 5;
  settings.clock = [&] { return now; };
  UseCheapPasswordHashesForTests();
  AddOperator(*db_.storage(), "BIA", "cavalo correto", {"0001"});
  SignInService service(db_.storage(), settings);
  for (int i = 0; i < 40; ++i) {
    EXPECT_THROW(service.SignIn("BIA", "errada", "10.0.0." + std::to_string(i % 2)), SignInError);
  }
  JournalFilter signins;
  signins.since = "2000-01-01";
  int rows_of_signins = 0;
  for (const JournalRow& r : ReadJournal(*db_.storage(), signins)) {
    rows_of_signins += r.method == "Entrar";
  }
  EXPECT_EQ(10, rows_of_signins) << "five a minute for each of the two addresses";
}

TEST_F(BranchScopeTest, TheOperatorIsTheSessionsWhateverTheCallerNames) {
  const Variant items = Call(ana_, "GetItensExpedicao", {"0001"});
  std::vector<Variant> args = {items, "", kKey, "", "MALLORY", "0001"};
  object_->Call("DistribuiQuantidades", args, ana_);
  const std::string grid = Str(args[3]);
  ASSERT_FALSE(grid.empty());
  Call(ana_, "ExpedirGrade", {"0001", grid, "MALLORY", "0001", "1"});
  db_.storage()->Transact(TxKind::Read, [&](Session& s) {
    auto g = s.Query("SELECT CDOPERLANC, CDOPEREXPED FROM GRADEDISTR WHERE NRGRADEDISTR = ?",
                     {Value(grid)});
    ASSERT_EQ(1u, g.size());
    EXPECT_EQ("ANA", Str(g[0][0]));
    EXPECT_EQ("ANA", Str(g[0][1]));
    for (const Row& r : s.Query("SELECT CDOPERLANCGRAD FROM ALOCGRADE"))
      EXPECT_EQ("ANA", Str(r[0]));
    for (const Row& r : s.Query("SELECT CDOPERADOR FROM GRADELOG")) EXPECT_EQ("ANA", Str(r[0]));
  });

  // Without a session (the in-process desktop), the named operator stays.
  CallContext local{"OPER", std::nullopt, ""};
  std::vector<Variant> named = {"0001"};
  object_->Call("PrxNrGrade", named, local);
  EXPECT_EQ("answered", Refusal(local, "GetParametros", {"0002"}));
}

}  // namespace
}  // namespace dg::server
