// A few whole exchanges through the real POSIX layer: the driver on the
// slave side of a pseudo-terminal, a scripted printer on the master side.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/pty.h"
#include "support/pty_printer.h"
#include "tarvo.h"

namespace tarvo {
namespace {

// The printer's answer, made from the request's id.
using Reply = std::function<std::string(int id)>;

test::PtyPrinter::Answer ById(Reply reply) {
  return [reply](const std::string& request) { return reply(test::RequestId(request)); };
}

class EnginePtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    ASSERT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);
  }
  void TearDown() override { EncerraDriver(1); }
  test::Pty pty;
};

TEST_F(EnginePtyTest, CommandAndItsValueTravelTheRealLine) {
  {
    test::PtyPrinter printer(pty, 1, ById([](int id) {
                               return test::AnswerFrame(id, "0", "ValorTexto=\"BE0123456789\"");
                             }));
    AdicionaParam(1, "NomeTexto", "NumeroSerieECF", 7);
    EXPECT_EQ(ExecutaComando(1, "LeTexto"), 1);
    printer.Join();
    ASSERT_EQ(printer.Requests().size(), 1u);
    EXPECT_NE(printer.Requests()[0].find(";LeTexto;NomeTexto=\"NumeroSerieECF\";"),
              std::string::npos);
  }
  char value[TARVO_VALUE_SIZE];
  EXPECT_EQ(ObtemCodErro(1), 0);
  EXPECT_EQ(Retorno(1, 0, "ValorTexto", 0, value, 0), 12);
  EXPECT_STREQ(value, "BE0123456789");
}

TEST_F(EnginePtyTest, NoiseAndAStaleAnswerAreSkipped) {
  {
    test::PtyPrinter printer(pty, 1, ById([](int id) {
                               return "xy" + test::AnswerFrame(id + 1, "0", "") +
                                      test::AnswerFrame(id, "0", "ValorInteiro=3");
                             }));
    EXPECT_EQ(ExecutaComando(1, "LeInteiro"), 1);
  }
  char value[TARVO_VALUE_SIZE];
  EXPECT_EQ(Retorno(1, 0, "ValorInteiro", 0, value, 0), 1);
  EXPECT_STREQ(value, "3");
}

TEST_F(EnginePtyTest, WrongLengthFailsWithSectionError) {
  {
    test::PtyPrinter printer(pty, 1,
                             ById([](int id) { return "{" + std::to_string(id) + ";0;;99}"; }));
    EXPECT_EQ(ExecutaComando(1, "LeTexto"), -1);
  }
  char circ[TARVO_CIRCUMSTANCE_SIZE];
  ObtemCircunstancia(1, circ, 0);
  EXPECT_STREQ(circ, "Erro de Secao ou CRC");
  EXPECT_EQ(ObtemCodErro(1), 11010);
}

}  // namespace
}  // namespace tarvo
