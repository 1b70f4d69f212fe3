// Two real threads over a real pseudo-terminal: the other thread's calls
// during an exchange are refused, EncerraDriver ends the session, and the
// port is closed once the exchange is over. `make tsan` runs this suite
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "driver/driver_state.h"
#include "facade/fc_state.h"
#include "support/frames.h"
#include "support/fresh_state.h"
#include "support/pty.h"
#include "tarvo.h"

namespace tarvo {
namespace {

TEST(OverlapPty, AnotherThreadIsRefusedAndEndsTheSessionDuringAnExchange) {
  test::FreshState();
  test::Pty pty;
  ASSERT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);
  fcState.fcHandle = 1;

  int result = 0;
  std::thread host([&] { result = ExecutaComando(1, "LeInteiro"); });

  // Once the request is on the line, the host thread holds the exchange.
  std::string request;
  while (request.find('}') == std::string::npos) {
    const std::string got = pty.ReadMaster(1, 10000);
    if (got.empty()) break;
    request += got;
  }
  ASSERT_NE(request.find(";LeInteiro;"), std::string::npos);

  FcCommand cmd{};
  std::strcpy(cmd.command, "LeTexto");
  int outLen = -7;
  char outText[TARVO_FC_TEXT_SIZE] = "untouched";
  EXPECT_EQ(ExecutaComando(1, "LeTexto"), TARVO_BUSY);
  DefineTimeout(1, 9000);
  EXPECT_EQ(FC_Operacao(0, &cmd, &outLen, outText), TARVO_REFUSED_BUSY);
  EXPECT_EQ(outLen, -7);
  EXPECT_STREQ(outText, "untouched");
  EXPECT_EQ(EncerraDriver(1), 0);

  pty.WriteMaster(test::AnswerFrame(test::RequestId(request), "0", "ValorInteiro=1"));
  host.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(driverState.Timeout, 5000);
  EXPECT_FALSE(driverState.port.IsOpen()) << "closed as the exchange ended";
  EXPECT_EQ(IniciaDriver(pty.SlavePath().c_str()), 1);
  EXPECT_EQ(EncerraDriver(1), 0);
}

}  // namespace
}  // namespace tarvo
