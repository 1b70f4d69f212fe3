// Venda.cs - a whole sale through the fiscal facade: open a receipt, sell
// two items, pay in cash, close the receipt.
//
//   Venda PORT        (for example: Venda COM1, mono Venda.exe /dev/ttyUSB0)
//
// Build it with the binding: csc Venda.cs ..\Tarvo.cs on Windows, or with
// Mono: mcs -out:Venda.exe Venda.cs Tarvo.cs (see bindings/README.md).
// Prints one line per operation with the values the printer gave back and
// ends with exit code 0; on any failure it prints the error and ends with 1
// (after cancelling the receipt if one was left open), a missing library
// and a refused port included.

using System;
using System.Linq;
using Tarvo;

static class Venda
{
    static int Main(string[] args)
    {
        if (args.Length != 1) {
            Console.WriteLine("usage: Venda PORT");
            return 2;
        }
        Printer printer;
        try {
            printer = new Printer(args[0], facade: true);
        } catch (TarvoException e) {
            Console.WriteLine(e.Message);  // a refused port says why (PortException)
            return 1;
        } catch (DllNotFoundException e) {
            return NoLibrary(e);
        } catch (BadImageFormatException e) {
            return NoLibrary(e);  // a tarvo.dll of the other width (32/64 bits)
        } catch (EntryPointNotFoundException e) {
            return NoLibrary(e);
        }
        using (printer) {
            bool receiptOpen = false;
            try {
                Show("Printer", printer.Run("LeTexto", "ValorTexto",
                                            new Parameters { { "NomeTexto", "NumeroSerieECF" } }));
                Show("Receipt", printer.Run("AbreCupom", "COO"));
                receiptOpen = true;
                // Texts go to the printer in cp1252; amounts are decimals.
                Show("Item", printer.Run("VendeItem", "NumeroItem TotalCupom", new Parameters {
                    { "CodigoProduto", "7891000100103" },
                    { "Descricao", "Ma\u00e7\u00e3 gala" },
                    { "PrecoUnitario", 3.25m },
                    { "Quantidade", 2 },
                }));
                Show("Item", printer.Run("VendeItem", "NumeroItem TotalCupom", new Parameters {
                    { "Descricao", "Cafe 500g" },
                    { "PrecoUnitario", 12.90m },
                }));
                Show("Payment", printer.Run("PagaCupom", "Restante Troco", new Parameters {
                    { "MeioPagamento", "Dinheiro" },
                    { "Valor", 20.00m },
                }));
                Show("Closed", printer.Run("EncerraCupom", "COO TotalCupom",
                                           new Parameters { { "Mensagem", "Obrigado, volte sempre" } }));
                receiptOpen = false;
                printer.Close();
                return 0;
            } catch (TarvoException e) {
                Console.WriteLine(e.Message);
                if (receiptOpen) {
                    try {
                        printer.Run("CancelaCupom");
                    } catch (TarvoException) {
                        // The sale already failed; the printer may not answer at all.
                    }
                }
                return 1;
            }
        }
    }

    static int NoLibrary(Exception e)
    {
        Console.WriteLine("the TARVO library could not be loaded: " + e.Message);
        return 1;
    }

    // "Label: "value" "value"", the values in the order they were asked
    // for; a printer error ends the sale.
    static void Show(string label, Result result)
    {
        try {
            result.Check();
        } catch (PrinterException e) {
            throw new TarvoException(label + ": " + e.Message, e.Code);
        }
        Console.WriteLine(label + ": " + string.Join(" ", result.Names.Select(n => "\"" + result[n] + "\"")));
    }
}
