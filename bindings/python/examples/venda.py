#!/usr/bin/env python3
"""venda.py - a whole sale through the fiscal facade: open a receipt, sell
two items, pay in cash, close the receipt.

    python3 venda.py PORT        (for example: venda.py /dev/ttyUSB0, venda.py COM1)

Prints one line per operation with the values the printer gave back and ends
with exit code 0; on any failure it prints the error and ends with 1 (after
cancelling the receipt if one was left open), a missing library and a
refused port (with the reason, as `tarvo why PORT` gives it) included.
"""
import decimal
import sys

import tarvo


def show(label, result):
    """Prints "Label: "value" "value"", the values in the order asked for;
    a printer error ends the sale."""
    try:
        result.check()
    except tarvo.PrinterError as e:
        raise tarvo.TarvoError(f"{label}: {e}", e.code) from e
    print(f"{label}: " + " ".join(f'"{result[n]}"' for n in result.values))


def sale(printer):
    show("Printer", printer.run("LeTexto", "ValorTexto", NomeTexto="NumeroSerieECF"))
    show("Receipt", printer.run("AbreCupom", "COO"))
    try:
        # Texts go to the printer in cp1252; amounts are decimals.
        show("Item", printer.run("VendeItem", "NumeroItem TotalCupom",
                                 CodigoProduto="7891000100103", Descricao="Maçã gala",
                                 PrecoUnitario=decimal.Decimal("3.25"), Quantidade=2))
        show("Item", printer.run("VendeItem", "NumeroItem TotalCupom",
                                 Descricao="Cafe 500g", PrecoUnitario=decimal.Decimal("12.90")))
        show("Payment", printer.run("PagaCupom", "Restante Troco", MeioPagamento="Dinheiro",
                                    Valor=decimal.Decimal("20.00")))
        show("Closed", printer.run("EncerraCupom", "COO TotalCupom",
                                   Mensagem="Obrigado, volte sempre"))
    except tarvo.TarvoError:
        try:
            printer.run("CancelaCupom")
        except tarvo.TarvoError:
            pass  # the sale already failed; the printer may not answer at all
        raise


def main(argv):
    if len(argv) != 2:
        print("usage: venda.py PORT")
        return 2
    try:
        with tarvo.Printer(argv[1], facade=True) as printer:
            sale(printer)
    except tarvo.TarvoError as e:  # PortError says why the port was refused
        print(e)
        return 1
    except OSError as e:  # the library is not where TARVO_LIBRARY or the loader looked
        print(e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
