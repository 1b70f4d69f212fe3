// The C# binding against the emulator over a pseudo-terminal, under Mono.
//
//   mono TarvoTests.exe CASE...     (no CASE: every case)
//
// Needs TARVO_EMU (tarvo-emu), the library on the library search path and,
// for the case "example", TARVO_VENDA (the example program, Venda.exe).

using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Threading;

namespace Tarvo.Tests
{
    static class Tests
    {
        static readonly Dictionary<string, Action> cases = new Dictionary<string, Action> {
            { "layout", Layout },
            { "sale", Sale },
            { "printer_error", PrinterError },
            { "protocol_failure", ProtocolFailure },
            { "refused", Refused },
            { "threads", Threads },
            { "example", Example },
            { "rules", Rules },
            { "outcome_unknown_cut", () => OutcomeUnknown("cut 1", true) },
            { "outcome_unknown_silence", () => OutcomeUnknown("silence 1", false) },
        };

        static int Main(string[] args)
        {
            // FC_Inicializa reads its trace configuration from the current
            // directory: an empty one of our own.
            string work = Path.Combine(Path.GetTempPath(), "tarvo-cs-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(work);
            Directory.SetCurrentDirectory(work);
            int failed = 0;
            try {
                foreach (string name in args.Length > 0 ? args : cases.Keys.ToArray()) {
                    try {
                        cases[name]();
                        Console.WriteLine("ok   " + name);
                    } catch (Exception e) {
                        Console.WriteLine("FAIL " + name + ": " + e);
                        failed++;
                    }
                }
            } finally {
                Directory.SetCurrentDirectory("/");
                Directory.Delete(work, true);
            }
            return failed == 0 ? 0 : 1;
        }

        // ---- Assertions

        static void Equal<T>(T want, T got, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(want, got))
                throw new Exception(string.Format("{0}: want <{1}>, got <{2}>", what, want, got));
        }

        static void True(bool condition, string what)
        {
            if (!condition) throw new Exception(what);
        }

        static E Throws<E>(Action action, string what) where E : Exception
        {
            try {
                action();
            } catch (E e) {
                return e;
            }
            throw new Exception(what + ": no " + typeof(E).Name);
        }

        static byte[] Z(string text) { return Cp1252.Encode(text, "test"); }

        // ---- Cases

        // The records' layout as the library reads and writes them, and
        // every one of the 25 entry names reached with its arguments.
        static void Layout()
        {
            Tarvo.Layout.Check();
            using (var emu = new Emulator()) {
                Equal(0, Native.FC_Inicializa(Z(emu.Path)), "FC_Inicializa");
                var cmd = FcCommand.Create("AbreCupom");
                Equal(0, Native.FC_Operacao(0, ref cmd, IntPtr.Zero, IntPtr.Zero), "AbreCupom");
                cmd = FcCommand.Create("VendeItem", "NumeroItem TotalItem Ausente", 7000);
                cmd.SetParam(0, "Descricao", "P\u00e3o de queijo", Codes.TYPE_QUOTED);
                cmd.SetParam(1, "PrecoUnitario", "4,50", Codes.TYPE_PLAIN);
                cmd.SetParam(2, "Quantidade", "3", Codes.TYPE_PLAIN);
                // Read only up to numParam: the fourth entry never reaches the printer.
                cmd.SetParam(3, "Unidade", "kg", Codes.TYPE_QUOTED);
                var text = new byte[Codes.FC_TEXT_SIZE];
                int length;
                Equal(0, Native.FC_Operacao(3, ref cmd, out length, text), "VendeItem");
                Equal("\"1\" \"13,50\" \"\"", Cp1252.Decode(text, length), "values");
                // The library cleared command, names and time-out in our record.
                Equal("", Cp1252.Decode(cmd.command), "command cleared");
                Equal("", Cp1252.Decode(cmd.returnNames), "returnNames cleared");
                Equal(0, cmd.timeoutMs, "timeoutMs cleared");
                Equal("3", Cp1252.Decode(cmd.@params[2].value), "entry kept");
                string frame = emu.Requests().Last();
                True(frame.Contains(";VendeItem;Descricao=\"P\\xE3o de queijo\" PrecoUnitario=4,50 Quantidade=3;"),
                     frame);
                Equal(0, Native.FC_Finaliza(), "FC_Finaliza");
                Equal(Codes.BAD_HANDLE, Native.FC_Finaliza(), "second FC_Finaliza");

                // The driver calls under both names.
                int h = Native.TARVO_IniciaDriver(Z(emu.Path));
                Equal(Codes.OK_HANDLE, h, "TARVO_IniciaDriver");
                Native.TARVO_DefineTimeout(h, 6000);
                Equal(0, Native.TARVO_DoMessage(), "TARVO_DoMessage");
                Equal(0, Native.DoMessage(), "DoMessage");
                Equal(0, Native.TARVO_LimpaParams(h), "TARVO_LimpaParams");
                Equal(0, Native.TARVO_AdicionaParam(h, Z("NomeTexto"), Z("NumeroSerieECF"), 7), "TARVO_AdicionaParam");
                Equal(Codes.ANSWERED, Native.TARVO_ExecutaComando(h, Z("LeTexto")), "TARVO_ExecutaComando");
                Equal(0, Native.TARVO_ObtemCodErro(h), "TARVO_ObtemCodErro");
                var name = new byte[Codes.ERROR_NAME_SIZE];
                Native.TARVO_ObtemNomeErro(h, name, name.Length);
                Equal("OK", Cp1252.Decode(name), "TARVO_ObtemNomeErro");
                var circumstance = new byte[Codes.CIRCUMSTANCE_SIZE];
                Equal(0, Native.TARVO_ObtemCircunstancia(h, circumstance, circumstance.Length),
                      "TARVO_ObtemCircunstancia");
                var value = new byte[Codes.VALUE_SIZE];
                Equal(10, Native.TARVO_Retorno(h, 0, Z("ValorTexto"), 0, value, 0), "TARVO_Retorno");
                Equal("EMU0000001", Cp1252.Decode(value), "TARVO_Retorno value");
                Equal(0, Native.TARVO_EncerraDriver(h), "TARVO_EncerraDriver");

                h = Native.IniciaDriver(Z(emu.Path));
                Equal(Codes.OK_HANDLE, h, "IniciaDriver");
                Native.DefineTimeout(h, 6000);
                Equal(0, Native.LimpaParams(h), "LimpaParams");
                Equal(0, Native.AdicionaParam(h, Z("NomeInteiro"), Z("ECF"), 0), "AdicionaParam");
                Equal(Codes.ANSWERED, Native.ExecutaComando(h, Z("LeInteiro")), "ExecutaComando");
                Equal(0, Native.ObtemCodErro(h), "ObtemCodErro");
                Equal("OK", Native.ErrorName(h), "ObtemNomeErro");
                Native.Circumstance(h);
                string ecf;
                Equal(1, Native.Value(h, "ValorInteiro", out ecf), "Retorno");
                Equal("1", ecf, "Retorno value");
                Equal(Codes.BAD_HANDLE, Native.ObtemCodErro(h + 1), "wrong handle");
                Equal(0, Native.EncerraDriver(h), "EncerraDriver");
            }
        }

        static void SaleWith(bool facade)
        {
            using (var emu = new Emulator())
            using (var p = new Printer(emu.Path, facade)) {
                var r = p.Run("AbreCupom", "COO", new Parameters { { "Consumidor", "Jos\u00e9 da Silva" } });
                Equal("OK 1", r.Name + " " + r["COO"], "AbreCupom");
                r = p.Run("VendeItem", new[] { "NumeroItem", "TotalCupom" }, new Parameters {
                    { "Descricao", "Ma\u00e7\u00e3 gala" }, { "PrecoUnitario", 3.25m },
                    { "Quantidade", 2 }, { "CodigoProduto", "789" },
                });
                Equal("1 6,50", r["NumeroItem"] + " " + r["TotalCupom"], "VendeItem");
                Equal(6.50m, r.Decimal("TotalCupom"), "TotalCupom as decimal");
                r = p.Run("PagaCupom", "Troco", new Parameters {
                    { "MeioPagamento", "Dinheiro" }, { "Valor", Param.Plain("10,00") },
                });
                Equal(3.50m, r.Decimal("Troco"), "Troco");
                r = p.Run("EncerraCupom", "COO TotalCupom").Check();
                Equal(1, r.Integer("COO"), "COO");
                True(p.Value("TotalCupom") == "6,50", "Value() after the command");
                True(p.Run("LeImpressao", "TextoImpressao")["TextoImpressao"].Contains("Ma\u00e7\u00e3 gala"),
                     "the receipt read back in cp1252");
                r = p.Run("LeDataHora", "Data Hora");
                r.Date("Data");
                r.Time("Hora");
                p.Close();
                True(emu.Paper().Contains("Ma\u00e7\u00e3 gala"), "paper");
                True(emu.Requests().Any(f => f.Contains(
                         "Descricao=\"Ma\\xE7\\xE3 gala\" PrecoUnitario=3,25 Quantidade=2 CodigoProduto=\"789\"")),
                     "frame: " + string.Join("\n", emu.Requests()));
                // A date and a time between '#'.
                var when = new Parameters { { "Data", new DateTime(2026, 3, 1) }, { "Hora", new TimeSpan(9, 5, 7) },
                                            { "Fim", Param.Time(new DateTime(2026, 3, 1, 23, 0, 1)) } };
                Equal("Data=#01/03/2026# Hora=#09:05:07# Fim=#23:00:01#",
                      string.Join(" ", when.Select(i => i.Key + "=#" + i.Value.Value + "#")), "dates");
                Equal(Codes.TYPE_DATE * 100 + Codes.TYPE_TIME * 10 + Codes.TYPE_TIME,
                      when.Aggregate(0, (a, i) => a * 10 + i.Value.Type), "date and time codes");
            }
        }

        // A whole sale through the driver calls and through the facade.
        static void Sale()
        {
            SaleWith(false);
            SaleWith(true);
        }

        static void PrinterError()
        {
            foreach (bool facade in new[] { false, true }) {
                using (var emu = new Emulator())
                using (var p = new Printer(emu.Path, facade)) {
                    var r = p.Run("PagaCupom", "Troco", new Parameters { { "MeioPagamento", "Dinheiro" }, { "Valor", 1 } });
                    Equal("6 ErroCupomFechado False", r.Code + " " + r.Name + " " + r.Ok, "PagaCupom");
                    True(r.Circumstance.Length > 0, "circumstance");
                    True(r.Values.Count == 0, "no values after an error");
                    var e = Throws<PrinterException>(() => r.Check(), "Check");
                    Equal(6, e.Code, "PrinterException.Code");
                    Equal("ErroCupomFechado", e.Name, "PrinterException.Name");
                    // After an error Retorno gives the code, not a count: refused.
                    Equal(6, Throws<TarvoException>(() => p.Value("COO"), "Value").Code, "Value after an error");
                }
            }
        }

        static void ProtocolFailure()
        {
            foreach (bool facade in new[] { false, true }) {
                using (var emu = new Emulator())
                using (var p = new Printer(emu.Path, facade)) {
                    // Three bad answers: the facade's two resends fail too.
                    emu.Arm("badlength 3");
                    var e = Throws<ProtocolException>(
                        () => p.Run("LeTexto", "ValorTexto", new Parameters { { "NomeTexto", "Marca" } }), "badlength");
                    Equal(Codes.PROTOCOL_FAILURE, e.Code, "code");
                    Equal("ErroProtTimeout", e.Name, "name");
                    Equal("Erro de Secao ou CRC", e.Circumstance, "circumstance");
                    emu.Arm("clear");
                    Equal("1", p.Run("LeInteiro", "ValorInteiro", new Parameters { { "NomeInteiro", "ECF" } })
                                   ["ValorInteiro"], "after the failure");
                }
            }
            // Two bad answers: the facade resends the same frame and succeeds.
            using (var emu = new Emulator())
            using (var p = new Printer(emu.Path, facade: true)) {
                int before = emu.Requests().Length;
                emu.Arm("badlength 2");
                var r = p.Run("LeTexto", "ValorTexto", new Parameters { { "NomeTexto", "NumeroSerieECF" } });
                Equal("EMU0000001", r["ValorTexto"], "value after the resends");
                string[] sent = emu.Requests().Skip(before).ToArray();
                Equal(3, sent.Length, "LeTexto sent three times");
                True(sent.All(f => f == sent[0]), "the same frame, id included: " + string.Join(" ", sent));
            }
        }

        // Values that would break the frame, or that can't be sent as they
        // are meant, are refused before anything reaches the printer.
        static void Refused()
        {
            foreach (bool facade in new[] { false, true }) {
                using (var emu = new Emulator())
                using (var p = new Printer(emu.Path, facade)) {
                    int before = emu.Requests().Length;
                    var bad = new Action[] {
                        () => new Parameters { { "Descricao", "Tela 15\" LED" } },
                        () => new Parameters { { "PrecoUnitario", Param.Plain("4,50 Quantidade=9") } },
                        () => new Parameters { { "Data", "01/01/2026# X=1", Codes.TYPE_DATE } },
                        () => new Parameters { { "Descricao", "a\0b" } },
                        () => new Parameters { { "Descricao", "\u2713" } },
                        () => new Parameters { { "Valor", 1.5 } },
                        () => new Parameters { { "Valor", 1.5f } },
                        () => new Parameters { { "Quantidade", true } },
                        () => new Parameters { { "Data", new DateTime(2026, 1, 1, 10, 0, 0) } },
                        () => new Parameters { { "Nome=X", "1" } },
                        () => p.Run(""),
                        () => p.Run("Le Texto"),
                        () => p.Run("LeTexto;1"),
                        () => p.Run("LeTexto", "Valor\u2713"),
                        () => p.Run(new string('A', facade ? 30 : 60)),
                    };
                    for (int i = 0; i < bad.Length; i++) Throws<ArgumentException>(bad[i], "bad value " + i);
                    var overlong = new Parameters { { "Descricao", new string('x', 300) },
                                                    { "CodigoProduto", new string('y', 300) } };
                    Equal(Codes.TOO_LONG, Throws<TarvoException>(() => p.Run("VendeItem", "", overlong),
                                                                 "overlong").Code, "overlong");
                    if (facade) {
                        // Longer than the record's 493 characters, shorter than the 511 in all.
                        Throws<ArgumentException>(() => p.Run("VendeItem", "", new Parameters {
                            { "Descricao", new string('x', 494) } }), "record field");
                        var many = new Parameters();
                        for (int i = 0; i < 18; i++) many.Add("P" + i, i);
                        Throws<ArgumentException>(() => p.Run("VendeItem", "", many), "18 parameters");
                    }
                    Equal(before, emu.Requests().Length, "nothing sent");
                    p.Run("AbreCupom").Check();
                    True(System.Text.RegularExpressions.Regex.IsMatch(emu.Requests().Last(), @"^\{\d+;AbreCupom;;\d+\}$"),
                         "nothing left staged: " + emu.Requests().Last());
                }
            }
        }

        // Two threads sharing a Printer: every command whole, every answer
        // its own.
        static void Threads()
        {
            foreach (bool facade in new[] { false, true }) {
                var errors = new List<string>();
                using (var emu = new Emulator())
                using (var p = new Printer(emu.Path, facade)) {
                    Func<string, string, string, string, string, ThreadStart> worker =
                        (command, param, value, name, want) => () => {
                            try {
                                for (int i = 0; i < 15; i++) {
                                    var r = p.Run(command, name, new Parameters { { param, value } });
                                    if (r[name] != want) lock (errors) errors.Add(command + ": " + r[name]);
                                }
                            } catch (Exception e) {
                                lock (errors) errors.Add(e.ToString());
                            }
                        };
                    var threads = new[] {
                        new Thread(worker("LeTexto", "NomeTexto", "NumeroSerieECF", "ValorTexto", "EMU0000001")),
                        new Thread(worker("LeInteiro", "NomeInteiro", "ECF", "ValorInteiro", "1")),
                    };
                    foreach (var t in threads) t.Start();
                    foreach (var t in threads) True(t.Join(60000), "thread ended");
                    Equal(30, emu.Requests().Length - (facade ? 2 : 0), "every command sent once");
                }
                Equal("", string.Join("\n", errors), "errors");
            }
        }

        // A sale item whose answer was lost (cut short, or never sent) counts
        // once, whatever the host then does: a blind repeat is refused before
        // it is sent, and the retransmission (same id) is answered from the
        // printer's memory, twice over.
        static void OutcomeUnknown(string fault, bool facade)
        {
            Func<Parameters> cheese = () => new Parameters { { "Descricao", "Queijo minas" },
                                                             { "PrecoUnitario", 20.00m } };
            using (var emu = new Emulator())
            using (var p = new Printer(emu.Path, facade)) {
                p.Run("AbreCupom").Check();
                emu.Arm(fault);
                var e = Throws<OutcomeUnknownException>(() => p.Run("VendeItem", "NumeroItem", cheese()), fault);
                True(e is ProtocolException, "still a ProtocolException");
                Equal("Erro de Recepcao", e.Circumstance, "circumstance");
                True(e.RequestSent, "the request went out whole");
                True(e.Message.Contains("check the printer"), e.Message);
                int before = emu.Requests().Length;
                Throws<OutcomeUnknownException>(() => p.Run("VendeItem", "NumeroItem", cheese()), "repeat");
                Equal(before, emu.Requests().Length, "the repeat was not sent");
                string first = emu.Requests().Last();
                Equal("1", p.Retransmit("NumeroItem")["NumeroItem"], "retransmitted");
                Equal("1", p.Retransmit("NumeroItem")["NumeroItem"], "retransmitted again");
                True(emu.Requests().Skip(before).All(f => f == first), "the same frame, id included");
                string paper = emu.Paper();
                Equal(1, paper.Split(new[] { "Queijo minas" }, StringSplitOptions.None).Length - 1,
                      "the item on paper once:\n" + paper);
                Equal("2", p.Run("VendeItem", "NumeroItem", new Parameters { { "Descricao", "Pao" },
                                                                             { "PrecoUnitario", 1 } })["NumeroItem"],
                      "the next item's number");
                // A reading command's failure stays a plain ProtocolException,
                // and the retransmission repeats whatever was sent last.
                emu.Arm("badlength 3");
                var plain = Throws<ProtocolException>(
                    () => p.Run("LeTexto", "ValorTexto", new Parameters { { "NomeTexto", "NumeroSerieECF" } }), "LeTexto");
                True(!(plain is OutcomeUnknownException), "a reading command's outcome is known");
                emu.Arm("clear");
                Equal("EMU0000001", p.Retransmit("ValorTexto")["ValorTexto"], "LeTexto retransmitted");
            }
        }

        // The binding refuses exactly the values the library's own rules
        // refuse (the shared cases in TARVO_PARAM_CASES); needs no library.
        static void Rules()
        {
            int cases = 0;
            foreach (string line in File.ReadAllLines(Environment.GetEnvironmentVariable("TARVO_PARAM_CASES"))) {
                if (line.Length == 0 || line[0] == '#') continue;
                string[] f = line.Split(new[] { '\t' }, 3);
                bool refused;
                try {
                    new Parameters { { "Nome", f[2], int.Parse(f[0]) } };
                    refused = false;
                } catch (ArgumentException) {
                    refused = true;
                }
                Equal(f[1] == "refused", refused, "refused: " + line);
                cases++;
            }
            True(cases > 10, "the cases were read");
        }

        // The example program sells on the emulator.
        static void Example()
        {
            using (var emu = new Emulator()) {
                var start = new ProcessStartInfo("mono", Environment.GetEnvironmentVariable("TARVO_VENDA") + " " + emu.Path) {
                    UseShellExecute = false,
                    RedirectStandardOutput = true,
                };
                string output;
                using (var venda = Process.Start(start)) {
                    output = venda.StandardOutput.ReadToEnd();
                    True(venda.WaitForExit(60000), "Venda ended");
                    Equal(0, venda.ExitCode, "exit code; output: " + output);
                }
                Equal(string.Join("\n", new[] {
                          "Printer: \"EMU0000001\"",
                          "Receipt: \"1\"",
                          "Item: \"1\" \"6,50\"",
                          "Item: \"2\" \"19,40\"",
                          "Payment: \"0,00\" \"0,60\"",
                          "Closed: \"1\" \"19,40\"",
                      }), output.TrimEnd().Replace("\r\n", "\n"), "output");
                string paper = emu.Paper();
                foreach (string line in new[] { "7891000100103 Ma\u00e7\u00e3 gala", "2 x 3,25", "Obrigado, volte sempre" })
                    True(paper.Contains(line), "paper lacks " + line + ":\n" + paper);
            }
        }
    }
}
