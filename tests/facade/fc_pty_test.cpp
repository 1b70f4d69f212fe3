// The facade end to end over a real pseudo-terminal: start-up, a sale and
// the shut-down, with a printer played on the master side by a thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/pty.h"
#include "support/pty_printer.h"
#include "support/temp_dir.h"
#include "tarvo.h"

namespace tarvo {
namespace {

// The printer's answer to each command.
std::string Answer(const std::string& request) {
  const int id = test::RequestId(request);
  const std::string command = test::CommandOf(request);
  if (command == "LeTexto") return test::AnswerFrame(id, "0", "ValorTexto=\"PTY-0042\"");
  if (command == "LeInteiro") return test::AnswerFrame(id, "0", "ValorInteiro=3");
  if (command == "VendeItem") return test::AnswerFrame(id, "0", "ValorTotal=#12:30:45# Item=1");
  return test::AnswerFrame(id, "99", "NomeErro=\"Desconhecido\"");
}

class FcPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::FreshState();
    // No registry file: the line runs at the fallback rate.
    setenv("TARVO_REGISTRY", (dir_.Path() + "/none.reg").c_str(), 1);
    test::WriteFile("TARVO.cfg", "Trace=2\n");
  }
  void TearDown() override {
    FC_Finaliza();
    unsetenv("TARVO_REGISTRY");
  }

  test::TempDir dir_;
  test::Pty pty_;
};

TEST_F(FcPtyTest, StartUpAndSaleOverARealLine) {
  test::PtyPrinter printer(pty_, 3, Answer);
  ASSERT_EQ(FC_Inicializa(pty_.SlavePath().c_str()), 0);

  FcCommand sale{};
  std::strcpy(sale.command, "VendeItem");
  std::strcpy(sale.returnNames, "Item ValorTotal");
  std::strcpy(sale.params[0].name, "CodProduto");
  std::strcpy(sale.params[0].value, "789");
  sale.params[0].type = 7;
  std::strcpy(sale.params[1].name, "Quantidade");
  std::strcpy(sale.params[1].value, "2");
  sale.params[1].type = 0;
  int len = 0;
  char text[TARVO_FC_TEXT_SIZE];
  EXPECT_EQ(FC_Operacao(2, &sale, &len, text), 0);
  EXPECT_STREQ(text, "\"1\" \"12:30:45\"");
  EXPECT_EQ(len, 14);
  EXPECT_EQ(FC_Finaliza(), 0);

  printer.Join();
  ASSERT_EQ(printer.Requests().size(), 3u);
  EXPECT_EQ(test::CommandOf(printer.Requests()[0]), "LeTexto");
  EXPECT_EQ(test::CommandOf(printer.Requests()[1]), "LeInteiro");
  EXPECT_NE(printer.Requests()[2].find(";VendeItem;CodProduto=\"789\" Quantidade=2;"),
            std::string::npos);
  EXPECT_TRUE(test::FileExists("TV_PTY-0042_3.cfg"));
  EXPECT_TRUE(test::FileExists("TARVO.txt"));
}

}  // namespace
}  // namespace tarvo
