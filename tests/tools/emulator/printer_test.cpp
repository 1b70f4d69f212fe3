#include "emulator/printer.h"

#include <gtest/gtest.h>

namespace tarvo::emu {
namespace {

const DateTime kNow{8, 12, 2026, 19, 40, 5};

std::vector<Param> P(std::string_view text) {
  std::vector<Param> params;
  EXPECT_TRUE(ParseParams(text, &params)) << text;
  return params;
}

class PrinterTest : public ::testing::Test {
 protected:
  Answer Run(std::string_view command, std::string_view params = "") {
    return printer.Execute(command, P(params), kNow);
  }
  void ExpectError(const Answer& a, int code) {
    EXPECT_EQ(a.code, std::to_string(code)) << a.values;
    EXPECT_NE(a.values.find(std::string("NomeErro=\"") + ErrorName(code) + "\""), std::string::npos)
        << a.values;
    EXPECT_NE(a.values.find("Circunstancia=\""), std::string::npos);
  }
  Printer printer;
};

TEST_F(PrinterTest, AWholeSaleTotalsPaysAndPrints) {
  EXPECT_EQ(Run("AbreCupom").values, "COO=1");
  EXPECT_EQ(
      Run("VendeItem", "CodigoProduto=\"789\" Descricao=\"Cafe\" Quantidade=2 PrecoUnitario=4,50")
          .values,
      "NumeroItem=1 TotalItem=9,00 TotalCupom=9,00");
  EXPECT_EQ(Run("VendeItem", "Descricao=\"Pao\" Quantidade=0.5 PrecoUnitario=3.25").values,
            "NumeroItem=2 TotalItem=1,63 TotalCupom=10,63");
  EXPECT_EQ(Run("PagaCupom", "MeioPagamento=\"Dinheiro\" Valor=5").values,
            "Restante=5,63 Troco=0,00");
  ExpectError(Run("EncerraCupom"), kPaymentIncomplete);
  EXPECT_EQ(Run("PagaCupom", "MeioPagamento=\"Cartao\" Valor=10,00").values,
            "Restante=0,00 Troco=4,37");
  EXPECT_EQ(Run("EncerraCupom", "Mensagem=\"Volte sempre\"").values, "COO=1 TotalCupom=10,63");
  const std::string& paper = printer.State().lastPrinted;
  EXPECT_NE(paper.find("08/12/2026 19:40:05"), std::string::npos);
  EXPECT_NE(paper.find("001 789 Cafe\n"), std::string::npos);
  EXPECT_NE(paper.find("TROCO R$"), std::string::npos);
  EXPECT_NE(paper.find("Volte sempre"), std::string::npos);
  EXPECT_EQ(printer.State().open, Document::None);
  EXPECT_EQ(printer.State().grandTotalCents, 1063);
  EXPECT_EQ(Run("LeMoeda", "NomeMoeda=VendaBrutaDiaria").values, "ValorMoeda=10,63");
  EXPECT_EQ(Run("AbreCupom").values, "COO=2");
}

TEST_F(PrinterTest, CommandsOutOfOrderAreRefusedWithoutChangingState) {
  ExpectError(Run("VendeItem", "Descricao=\"X\" PrecoUnitario=1"), kReceiptClosed);
  ExpectError(Run("PagaCupom", "MeioPagamento=\"D\" Valor=1"), kReceiptClosed);
  ExpectError(Run("EncerraCupom"), kReceiptClosed);
  ExpectError(Run("CancelaCupom"), kReceiptClosed);
  ExpectError(Run("ImprimeTexto", "Texto=\"x\""), kVoucherClosed);
  Run("AbreCupom");
  ExpectError(Run("AbreCupom"), kDocumentOpen);
  ExpectError(Run("EmiteReducaoZ"), kDocumentOpen);
  ExpectError(Run("AbreCreditoDebito", "MeioPagamento=\"Cartao\" Valor=1"), kDocumentOpen);
  ExpectError(Run("PagaCupom", "MeioPagamento=\"D\" Valor=1"), kNoItems);
  ExpectError(Run("EncerraCupom"), kNoItems);
  Run("VendeItem", "Descricao=\"X\" PrecoUnitario=1");
  Run("PagaCupom", "MeioPagamento=\"D\" Valor=0,50");
  ExpectError(Run("VendeItem", "Descricao=\"Y\" PrecoUnitario=1"), kPaymentStarted);
  EXPECT_EQ(printer.State().items.size(), 1u);
  EXPECT_EQ(printer.State().coo, 1);
  EXPECT_EQ(Run("CancelaCupom").code, "0");
  EXPECT_EQ(printer.State().open, Document::None);
  EXPECT_EQ(printer.State().grandTotalCents, 0);
}

TEST_F(PrinterTest, UnknownCommandsNamesAndBadParametersGetTheirCodes) {
  ExpectError(Run("Imprime"), kUnknownCommand);
  ExpectError(Run(""), kUnknownCommand);
  ExpectError(Run("LeTexto"), kMissingParam);
  ExpectError(Run("LeTexto", "NomeTexto=Nada"), kUnknownName);
  ExpectError(Run("LeInteiro", "NomeInteiro=Nada"), kUnknownName);
  Run("AbreCupom");
  ExpectError(Run("VendeItem", "Descricao=\"X\""), kMissingParam);
  ExpectError(Run("VendeItem", "Descricao=\"X\" PrecoUnitario=1,234"), kBadParam);
  ExpectError(Run("VendeItem", "Descricao=\"X\" PrecoUnitario=-1"), kBadParam);
  ExpectError(Run("VendeItem", "Descricao=\"X\" PrecoUnitario=1 Quantidade=0"), kBadParam);
  ExpectError(Run("VendeItem", "Descricao=\"\" PrecoUnitario=1"), kBadParam);
  EXPECT_TRUE(printer.State().items.empty());
}

// A huge quantity times a huge price once overflowed a signed
// multiplication and sold an item with a wrapped total.
TEST_F(PrinterTest, TotalsBeyondElevenDigitsAreRefusedLikeAPrinterWould) {
  Run("AbreCupom");
  ExpectError(Run("VendeItem", "Descricao=\"X\" Quantidade=9999999999 PrecoUnitario=9999999999"),
              kBadParam);
  ExpectError(Run("VendeItem", "Descricao=\"X\" Quantidade=10 PrecoUnitario=10000000000"),
              kBadParam);
  EXPECT_EQ(Run("VendeItem", "Descricao=\"X\" PrecoUnitario=999999999,99").values,
            "NumeroItem=1 TotalItem=999999999,99 TotalCupom=999999999,99");
  ExpectError(Run("VendeItem", "Descricao=\"Y\" PrecoUnitario=0,01"), kBadParam);  // the receipt's
  EXPECT_EQ(Run("LeInteiro", "NomeInteiro=ItensCupom").values, "ValorInteiro=1");
}

TEST_F(PrinterTest, ReadsIdentificationInAnyValueForm) {
  printer.SetIdentity("ABC123", 4);
  EXPECT_EQ(Run("LeTexto", "NomeTexto=\"NumeroSerieECF\"").values, "ValorTexto=\"ABC123\"");
  EXPECT_EQ(Run("LeTexto", "NomeTexto=NumeroSerieECF").values, "ValorTexto=\"ABC123\"");
  EXPECT_EQ(Run("LeInteiro", "NomeInteiro=\"ECF\"").values, "ValorInteiro=4");
  EXPECT_EQ(Run("LeDataHora").values, "Data=#08/12/2026# Hora=#19:40:05#");
}

TEST_F(PrinterTest, ReductionZAdvancesTheDayAndStartsTheDayTotalsAgain) {
  Run("AbreCupom");
  Run("VendeItem", "Descricao=\"X\" PrecoUnitario=2");
  Run("PagaCupom", "MeioPagamento=\"D\" Valor=2");
  Run("EncerraCupom");
  EXPECT_EQ(Run("EmiteReducaoZ").values, "ContadorReducaoZ=1 DataMovimento=#08/12/2026#");
  EXPECT_NE(printer.State().lastPrinted.find("VENDA BRUTA DIARIA"), std::string::npos);
  EXPECT_NE(printer.State().lastPrinted.find("2,00"), std::string::npos);
  EXPECT_EQ(printer.State().daySalesCents, 0);
  EXPECT_EQ(printer.State().grandTotalCents, 200);
  EXPECT_EQ(Run("EmiteReducaoZ").values, "ContadorReducaoZ=2 DataMovimento=#08/12/2026#");
  EXPECT_EQ(Run("LeInteiro", "NomeInteiro=ContadorReducaoZ").values, "ValorInteiro=2");
}

TEST_F(PrinterTest, LongPrintedTextIsReadInPartsFromInicio) {
  Run("AbreCupom");
  for (int i = 0; i < 60; ++i) Run("VendeItem", "Descricao=\"Item; longo;} \" PrecoUnitario=1");
  const std::string& text = printer.State().lastPrinted;
  ASSERT_GT(text.size(), Printer::kMaxPrintChunk);
  EXPECT_EQ(Run("LeInteiro", "NomeInteiro=TamanhoImpressao").values,
            "ValorInteiro=" + std::to_string(text.size()));
  std::string read;
  while (read.size() < text.size()) {
    const Answer a = Run("LeImpressao", "Inicio=" + std::to_string(read.size()));
    ASSERT_EQ(a.code, "0");
    const std::string encoded = a.values.substr(16, a.values.size() - 17);
    ASSERT_LE(BuildAnswer("255", "0", a.values).size(), 4095u);
    const std::string part = DecodePrintText(encoded);
    ASSERT_FALSE(part.empty());
    read += part;
  }
  EXPECT_EQ(read, text);
  EXPECT_EQ(Run("LeImpressao", "Inicio=999999").values, "TextoImpressao=\"\"");
}

TEST(PrinterState, SurvivesSerializationWithAnOpenReceipt) {
  Printer printer;
  printer.Execute("AbreCupom", {}, kNow);
  printer.Execute("VendeItem",
                  P("CodigoProduto=\"a|b\" Descricao=\"50% = metade\" PrecoUnitario=1"), kNow);
  PrinterState restored;
  std::string error;
  ASSERT_TRUE(ParseState(SerializeState(printer.State()), &restored, &error)) << error;
  EXPECT_EQ(SerializeState(restored), SerializeState(printer.State()));
  ASSERT_EQ(restored.items.size(), 1u);
  EXPECT_EQ(restored.items[0].description, "50% = metade");
  EXPECT_EQ(restored.open, Document::Receipt);
  EXPECT_FALSE(ParseState("open=maybe\n", &restored, &error));
  EXPECT_FALSE(ParseState("item=1|2\n", &restored, &error));
}

TEST(Money, DecimalsWithCommaOrPointAndNothingElse) {
  long long v = 0;
  EXPECT_TRUE(ParseDecimal("12,5", 2, &v));
  EXPECT_EQ(v, 1250);
  EXPECT_TRUE(ParseDecimal("0.005", 3, &v));
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(ParseDecimal("7", 2, &v));
  EXPECT_EQ(v, 700);
  EXPECT_FALSE(ParseDecimal("1,2,3", 2, &v));
  EXPECT_FALSE(ParseDecimal("", 2, &v));
  EXPECT_FALSE(ParseDecimal(",", 2, &v));
  EXPECT_FALSE(ParseDecimal("1e3", 2, &v));
  EXPECT_FALSE(ParseDecimal("99999999999999", 2, &v));
  EXPECT_EQ(FormatMoney(5), "0,05");
  EXPECT_EQ(FormatMoney(-123), "-1,23");
}

}  // namespace
}  // namespace tarvo::emu
