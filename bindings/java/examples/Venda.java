// Venda.java - a whole sale through the fiscal facade: open a receipt, sell
// two items, pay in cash, close the receipt.
//
//   java -cp tarvo.jar:jna.jar:. Venda PORT     (Venda COM1, Venda /dev/ttyUSB0)
//
// Prints one line per operation with the values the printer gave back and
// ends with exit code 0; on any failure it prints the error and ends with 1
// (after cancelling the receipt if one was left open). An item whose answer
// was lost is sent again with its own frame id, which the printer never
// registers twice.

import java.math.BigDecimal;
import tarvo.OutcomeUnknownException;
import tarvo.Parameters;
import tarvo.Printer;
import tarvo.PrinterException;
import tarvo.Result;
import tarvo.TarvoException;

public final class Venda {
    private Venda() {}

    public static void main(String[] args) {
        if (args.length != 1) {
            System.out.println("usage: Venda PORT");
            System.exit(2);
        }
        System.exit(sell(args[0]));
    }

    private static int sell(String port) {
        Printer p;
        try {
            p = new Printer(port, true);
        } catch (TarvoException e) {
            System.out.println(e.getMessage());
            return 1;
        }
        boolean receiptOpen = false;
        try {
            show("Printer", p.run("LeTexto", "ValorTexto",
                    new Parameters().add("NomeTexto", "NumeroSerieECF")));
            show("Receipt", p.run("AbreCupom", "COO"));
            receiptOpen = true;
            // Texts go to the printer in cp1252; amounts are BigDecimal.
            show("Item", item(p, new Parameters()
                    .add("CodigoProduto", "7891000100103")
                    .add("Descricao", "Ma\u00e7\u00e3 gala")
                    .add("PrecoUnitario", new BigDecimal("3.25"))
                    .add("Quantidade", 2)));
            show("Item", item(p, new Parameters()
                    .add("Descricao", "Cafe 500g")
                    .add("PrecoUnitario", new BigDecimal("12.90"))));
            show("Payment", p.run("PagaCupom", "Restante Troco", new Parameters()
                    .add("MeioPagamento", "Dinheiro")
                    .add("Valor", new BigDecimal("20.00"))));
            show("Closed", p.run("EncerraCupom", "COO TotalCupom",
                    new Parameters().add("Mensagem", "Obrigado, volte sempre")));
            receiptOpen = false;
            p.close();
            return 0;
        } catch (TarvoException e) {
            System.out.println(e.getMessage());
            if (receiptOpen) {
                try {
                    p.run("CancelaCupom");
                } catch (TarvoException again) {
                    // The sale already failed; the printer may not answer at all.
                }
            }
            return 1;
        } finally {
            try {
                p.close();
            } catch (TarvoException e) {
                // Reported above, or the sale's own failure is the one that counts.
            }
        }
    }

    // A lost answer leaves the item's outcome unknown: one retransmission
    // (same id) either gets the printer's remembered answer or has it carried
    // out now, never twice.
    private static Result item(Printer p, Parameters item) {
        try {
            return p.run("VendeItem", "NumeroItem TotalCupom", item);
        } catch (OutcomeUnknownException e) {
            return p.retransmit("NumeroItem TotalCupom");
        }
    }

    // "Label: "value" "value"", the values in the order they were asked
    // for; a printer error ends the sale.
    private static void show(String label, Result result) {
        try {
            result.check();
        } catch (PrinterException e) {
            throw new TarvoException(label + ": " + e.getMessage(), e.code);
        }
        StringBuilder line = new StringBuilder(label).append(':');
        for (String name : result.names) line.append(" \"").append(result.get(name)).append('"');
        System.out.println(line);
    }
}
