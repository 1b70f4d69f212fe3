"""The Python binding against the emulator over a pseudo-terminal.

Needs TARVO_LIBRARY (the shared library) and TARVO_EMU (tarvo-emu), and
bindings/python on the module path.
"""

import datetime
import decimal
import os
import subprocess
import sys
import tempfile
import threading
import unittest

import tarvo
from emulator import Emulator

_workdir = None


def setUpModule():
    # FC_Inicializa reads its trace configuration from the current directory.
    global _workdir
    _workdir = tempfile.TemporaryDirectory(prefix="tarvo-py-")
    os.chdir(_workdir.name)


def tearDownModule():
    os.chdir("/")
    _workdir.cleanup()


class EmulatorCase(unittest.TestCase):
    emulator_args = ()

    def setUp(self):
        self.emu = Emulator(*self.emulator_args)
        self.addCleanup(self.emu.stop)


class LowLevelCalls(EmulatorCase):
    def test_every_export_is_prototyped(self):
        lib = tarvo.library()
        self.assertEqual(len(tarvo.EXPORTED_NAMES), 25)
        for name in tarvo.EXPORTED_NAMES:
            self.assertIsNotNone(getattr(lib, name).argtypes, name)

    def test_one_command_through_the_driver_calls(self):
        h = tarvo.IniciaDriver(self.emu.path)
        self.assertEqual(h, tarvo.OK_HANDLE)
        try:
            self.assertEqual(tarvo.AdicionaParam(h, "NomeTexto", b"NumeroSerieECF", 7), 0)
            self.assertEqual(tarvo.ExecutaComando(h, "LeTexto"), tarvo.ANSWERED)
            self.assertEqual(tarvo.ObtemCodErro(h), 0)
            self.assertEqual(tarvo.ObtemNomeErro(h), "OK")
            self.assertEqual(tarvo.Retorno(h, "ValorTexto"), (10, "EMU0000001"))
            self.assertEqual(tarvo.Retorno(h, "Ausente"), (0, ""))
            # A wrong handle is refused and reads nothing.
            self.assertEqual(tarvo.ObtemCodErro(h + 1), tarvo.BAD_HANDLE)
            self.assertEqual(tarvo.ObtemNomeErro(h + 1), "")
            self.assertEqual(tarvo.Retorno(h + 1, "ValorTexto"), (tarvo.BAD_HANDLE, ""))
            self.assertEqual(tarvo.library().TARVO_ObtemCodErro(h), 0)
            # A printer error: the code and both texts.
            self.assertEqual(tarvo.ExecutaComando(h, "Nada"), tarvo.ANSWERED)
            self.assertEqual(tarvo.ObtemCodErro(h), 1)
            self.assertEqual(tarvo.ObtemNomeErro(h), "ErroComandoDesconhecido")
            self.assertIn("Nada", tarvo.ObtemCircunstancia(h))
        finally:
            self.assertEqual(tarvo.EncerraDriver(h), 0)
        self.assertEqual(tarvo.EncerraDriver(h), tarvo.BAD_HANDLE)

    def test_texts_the_c_side_would_cut_or_garble_are_refused(self):
        with self.assertRaises(ValueError):
            tarvo.IniciaDriver(self.emu.path + "\0x")
        with self.assertRaises(ValueError):
            tarvo.AdicionaParam(1, "Descricao", "caf\u00e9 \u2713", 7)  # no cp1252 form
        with self.assertRaises(TypeError):
            tarvo.ExecutaComando(1, 42)

    def test_fc_operacao_reads_and_clears_the_record_at_the_c_offsets(self):
        self.assertEqual(tarvo.FC_Inicializa(self.emu.path), 0)
        try:
            cmd, n = tarvo.fc_command("AbreCupom")
            self.assertEqual(tarvo.FC_Operacao(n, cmd, want_text=False), (0, None))
            cmd, n = tarvo.fc_command(
                "VendeItem",
                [("Descricao", "P\u00e3o de queijo", 7), ("PrecoUnitario", "4,50", 0),
                 ("Quantidade", "3", 0)],
                ["NumeroItem", "TotalItem", "Ausente"], timeout_ms=7000)
            code, text = tarvo.FC_Operacao(n, cmd)
            self.assertEqual((code, text), (0, '"1" "13,50" ""'))
            # Command, names and time-out cleared by the library; entries kept.
            self.assertEqual((cmd.command, cmd.returnNames, cmd.timeoutMs), (b"", b"", 0))
            self.assertEqual(cmd.params[2].value, b"3")
            self.assertIn('Descricao="P\\xE3o de queijo" PrecoUnitario=4,50 Quantidade=3',
                          self.emu.requests()[-1])
            with self.assertRaises(ValueError):
                tarvo.FC_Operacao(18, cmd)
            with self.assertRaises(ValueError):
                tarvo.fc_command("VendeItem", [("Descricao", "x" * 494, 7)])
        finally:
            self.assertEqual(tarvo.FC_Finaliza(), 0)
        self.assertEqual(tarvo.FC_Finaliza(), tarvo.BAD_HANDLE)


class SaleBothWays:
    """A whole sale through Printer, in driver mode and in facade mode."""
    facade = False

    def test_sale_with_typed_parameters(self):
        with tarvo.Printer(self.emu.path, facade=self.facade) as p:
            r = p.run("AbreCupom", "COO", Consumidor="Jos\u00e9 da Silva")
            self.assertEqual((r.code, r.name, r["COO"]), (0, "OK", "1"))
            r = p.run("VendeItem", ["NumeroItem", "TotalCupom"],
                      Descricao="Ma\u00e7\u00e3 gala", PrecoUnitario=decimal.Decimal("3.25"),
                      Quantidade=2, CodigoProduto="789")
            self.assertEqual(r.values, {"NumeroItem": "1", "TotalCupom": "6,50"})
            self.assertEqual(r.decimal("TotalCupom"), decimal.Decimal("6.50"))
            r = p.run("PagaCupom", "Troco", MeioPagamento="Dinheiro",
                      Valor=tarvo.Plain("10,00"))
            self.assertEqual(r.decimal("Troco"), decimal.Decimal("3.50"))
            r = p.run("EncerraCupom", "COO TotalCupom").check()
            self.assertEqual((r.integer("COO"), r["TotalCupom"]), (1, "6,50"))
            # The receipt, read back through the print-text rule.
            text = p.run("LeImpressao", "TextoImpressao")["TextoImpressao"]
            self.assertIn("Ma\u00e7\u00e3 gala", text)
            r = p.run("LeDataHora", "Data Hora")
            self.assertIsInstance(r.date("Data"), datetime.date)
            self.assertIsInstance(r.time("Hora"), datetime.time)
        self.assertIn("Ma\u00e7\u00e3 gala", self.emu.paper())
        sent = self.emu.requests()
        self.assertTrue(any('Descricao="Ma\\xE7\\xE3 gala" PrecoUnitario=3,25 Quantidade=2 '
                            'CodigoProduto="789"' in f for f in sent), sent)

    def test_printer_error_is_returned_and_check_raises(self):
        with tarvo.Printer(self.emu.path, facade=self.facade) as p:
            r = p.run("PagaCupom", MeioPagamento="Dinheiro", Valor=1)
            self.assertEqual((r.code, r.name, r.ok), (6, "ErroCupomFechado", False))
            self.assertTrue(r.circumstance)
            with self.assertRaises(tarvo.PrinterError) as ctx:
                r.check()
            self.assertEqual((ctx.exception.code, ctx.exception.name), (6, "ErroCupomFechado"))
            # After an error, reading a value is an error too, not a count.
            with self.assertRaises(tarvo.TarvoError):
                p.value("COO")

    def test_protocol_failure_raises_with_the_circumstance(self):
        with tarvo.Printer(self.emu.path, facade=self.facade) as p:
            self.emu.arm("badlength 3")
            with self.assertRaises(tarvo.ProtocolError) as ctx:
                p.run("LeTexto", "ValorTexto", NomeTexto="Marca")
            self.assertEqual(ctx.exception.code, tarvo.PROTOCOL_FAILURE)
            self.assertEqual(ctx.exception.name, "ErroProtTimeout")
            self.assertEqual(ctx.exception.circumstance, "Erro de Secao ou CRC")
            self.emu.arm("clear")
            self.assertEqual(p.run("LeInteiro", "ValorInteiro", NomeInteiro="ECF")
                             ["ValorInteiro"], "1")

    def test_unsafe_parameters_are_refused_before_anything_is_sent(self):
        with tarvo.Printer(self.emu.path, facade=self.facade) as p:
            before = len(self.emu.requests())
            bad = [
                {"Descricao": 'Tela 15" LED'},                  # quote ends the value
                {"PrecoUnitario": tarvo.Plain("4,50 Quantidade=9")},  # blank adds an item
                {"Data": tarvo.Date("01/01/2026# X=1")},
                {"Descricao": "a\0b"},
                {"Descricao": "\u2713"},
                {"Valor": 1.5},                                 # float for money
                {"Quantidade": True},
            ]
            for params in bad:
                with self.subTest(params=params), self.assertRaises((ValueError, TypeError)):
                    p.run("VendeItem", **params)
            for command in ("", "Le Texto", "LeTexto;1"):
                with self.subTest(command=command), self.assertRaises(ValueError):
                    p.run(command)
            with self.assertRaises(ValueError):
                p.run("VendeItem", params={"Nome=X": "1"})
            self.assertEqual(len(self.emu.requests()), before)


class DriverModeSale(SaleBothWays, EmulatorCase):
    facade = False

    def test_overlong_parameters_are_refused_and_leave_nothing_staged(self):
        with tarvo.Printer(self.emu.path) as p:
            with self.assertRaises(tarvo.TarvoError) as ctx:
                p.run("VendeItem", Descricao="x" * 300, CodigoProduto="y" * 300)
            self.assertEqual(ctx.exception.code, tarvo.TOO_LONG)
            p.run("AbreCupom").check()
            self.assertRegex(self.emu.requests()[-1], r"^\{\d+;AbreCupom;;\d+\}$")


class FacadeModeSale(SaleBothWays, EmulatorCase):
    facade = True

    def test_facade_resends_after_a_protocol_failure(self):
        with tarvo.Printer(self.emu.path, facade=True) as p:
            self.emu.arm("badlength 2")
            before = len(self.emu.requests())
            r = p.run("LeTexto", "ValorTexto", NomeTexto="Marca")
            self.assertEqual(r.code, 0)
            self.assertTrue(r["ValorTexto"])
            # The fault took effect: two answers were spoiled, so the same
            # frame went out three times.
            sent = self.emu.requests()[before:]
            self.assertEqual(len(sent), 3, sent)
            self.assertEqual(len(set(sent)), 1, sent)


class SessionLifecycle(EmulatorCase):
    def test_one_session_per_process_and_closing_on_exit(self):
        for facade in (False, True):
            with self.subTest(facade=facade):
                first = tarvo.Printer(self.emu.path, facade=facade).open()
                try:
                    for second in (False, True):
                        with self.assertRaises(tarvo.TarvoError) as ctx:
                            tarvo.Printer(self.emu.path, facade=second).open()
                        self.assertEqual(ctx.exception.code, tarvo.BAD_CHANNEL)
                    self.assertEqual(first.run("LeInteiro", "ValorInteiro", NomeInteiro="ECF")
                                     ["ValorInteiro"], "1")
                finally:
                    first.close()
                first.close()  # a second close does nothing
                with self.assertRaises(tarvo.TarvoError):
                    first.run("AbreCupom")
                # Really closed: the driver opens a session again.
                self.assertEqual(tarvo.IniciaDriver(self.emu.path), tarvo.OK_HANDLE)
                self.assertEqual(tarvo.EncerraDriver(tarvo.OK_HANDLE), 0)

        with self.assertRaises(RuntimeError):
            with tarvo.Printer(self.emu.path):
                raise RuntimeError("host failure")
        with tarvo.Printer(self.emu.path) as p:
            self.assertEqual(p.run("AbreCupom", "COO")["COO"], "1")

    def test_bad_port_raises(self):
        for facade in (False, True):
            with self.subTest(facade=facade), self.assertRaises(tarvo.TarvoError) as ctx:
                tarvo.Printer("/dev/tarvo-no-such-device", facade=facade).open()
            self.assertEqual(ctx.exception.code, tarvo.BAD_CHANNEL)

    def test_a_refused_port_says_why_as_the_tool_does(self):
        with tempfile.TemporaryDirectory() as d:
            missing = os.path.join(d, "dev", "ttyUSB9")
            for facade in (False, True):
                with self.subTest(facade=facade), self.assertRaises(tarvo.PortError) as ctx:
                    tarvo.Printer(missing, facade=facade).open()
                e = ctx.exception
                self.assertEqual(e.code, tarvo.BAD_CHANNEL)
                self.assertEqual((e.device, e.mapping, e.cause), (missing, "given", "missing"))
                self.assertIn(f"{missing} does not exist", str(e))
            explained = tarvo.explain_port("COM9")
            self.assertEqual(explained["cause"], "bad-name")

    def test_threads_sharing_a_printer_see_whole_commands(self):
        errors = []

        def worker(command, param, name, want):
            try:
                for _ in range(15):
                    r = p.run(command, name, **param)
                    if r.values[name] != want:
                        errors.append((command, r))
            except Exception as e:  # reported below
                errors.append(e)

        with tarvo.Printer(self.emu.path) as p:
            threads = [
                threading.Thread(target=worker, args=("LeTexto", {"NomeTexto": "NumeroSerieECF"},
                                                      "ValorTexto", "EMU0000001"),
                                 daemon=True),
                threading.Thread(target=worker, args=("LeInteiro", {"NomeInteiro": "ECF"},
                                                      "ValorInteiro", "1"),
                                 daemon=True),
            ]
            for t in threads:
                t.start()
            for t in threads:
                t.join(timeout=60)
                self.assertFalse(t.is_alive())
        self.assertEqual(errors, [])


class OutcomeUnknown(EmulatorCase):
    """A sale item whose answer was lost counts once, whatever the host does."""

    def _sell(self, p):
        return p.run("VendeItem", "NumeroItem", Descricao="Queijo minas",
                     PrecoUnitario=decimal.Decimal("20.00"))

    def _lost_answer(self, fault, facade):
        p = tarvo.Printer(self.emu.path, facade=facade).open()
        self.addCleanup(p.close)
        p.run("AbreCupom").check()
        self.emu.arm(fault)
        with self.assertRaises(tarvo.OutcomeUnknownError) as ctx:
            self._sell(p)
        self.assertIsInstance(ctx.exception, tarvo.ProtocolError)  # old handlers still catch it
        self.assertEqual(ctx.exception.code, tarvo.PROTOCOL_FAILURE)
        self.assertEqual(ctx.exception.circumstance, "Erro de Recepcao")
        self.assertTrue(ctx.exception.request_sent)
        self.assertIn("check the printer", str(ctx.exception))
        # A blind repeat of the very same sale is refused before it is sent.
        before = len(self.emu.requests())
        with self.assertRaises(tarvo.OutcomeUnknownError):
            self._sell(p)
        self.assertEqual(len(self.emu.requests()), before)
        return p

    def _counted_once(self, p):
        self.assertEqual(self.emu.paper().count("Queijo minas"), 1, self.emu.paper())
        self.assertEqual(p.run("VendeItem", "NumeroItem", Descricao="Pao",
                               PrecoUnitario=1)["NumeroItem"], "2")

    def test_cut_answer_then_retransmissions_count_once(self):
        p = self._lost_answer("cut 1", facade=False)
        first = self.emu.requests()[-1]
        self.assertEqual(p.retransmit("NumeroItem")["NumeroItem"], "1")
        self.assertEqual(p.retransmit("NumeroItem")["NumeroItem"], "1")
        self.assertEqual(self.emu.requests()[-2:], [first, first])  # same id, same frame
        self._counted_once(p)

    def test_silence_through_the_facade_then_a_check_and_no_retransmission(self):
        p = self._lost_answer("silence 1", facade=True)
        # The host checks with a reading command; a retransmission would now
        # repeat that command, not the sale, and is refused.
        p.run("LeInteiro", "ValorInteiro", NomeInteiro="ECF")
        with self.assertRaises(RuntimeError):
            p.retransmit()
        with self.assertRaises(tarvo.OutcomeUnknownError):
            self._sell(p)
        p.resolve_unknown()
        self._counted_once(p)

    def test_reading_commands_keep_the_plain_protocol_error(self):
        with tarvo.Printer(self.emu.path) as p:
            self.emu.arm("badlength 1")
            with self.assertRaises(tarvo.ProtocolError) as ctx:
                p.run("LeTexto", "ValorTexto", NomeTexto="NumeroSerieECF")
            self.assertNotIsInstance(ctx.exception, tarvo.OutcomeUnknownError)
            # A reading command can be retransmitted freely.
            self.assertEqual(p.retransmit("ValorTexto")["ValorTexto"], "EMU0000001")


class ToolBesideTheLibrary(unittest.TestCase):
    def test_a_library_found_by_the_loader_brings_its_own_tool(self):
        # A host that sets neither TARVO_LIBRARY nor TARVO_CLI and has no
        # tarvo on its PATH: the library comes from the loader's search path
        # (here a build tree), and the explanation from the tool built with it.
        library_dir = os.path.dirname(os.path.realpath(os.environ["TARVO_LIBRARY"]))
        with tempfile.TemporaryDirectory() as empty:
            env = {k: v for k, v in os.environ.items() if k not in ("TARVO_LIBRARY", "TARVO_CLI")}
            env.update(PATH=empty, LD_LIBRARY_PATH=library_dir,
                       PYTHONPATH=os.path.dirname(os.path.abspath(tarvo.__file__)))
            missing = os.path.join(empty, "dev", "ttyUSB9")
            script = ("import tarvo\n"
                      "try:\n"
                      f"    tarvo.Printer({missing!r}).open()\n"
                      "except tarvo.PortError as e:\n"
                      "    print(e.cause, e)\n")
            done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                                  text=True, timeout=60, check=False)
        self.assertEqual(done.stderr, "")
        self.assertIn(f"missing IniciaDriver('{missing}') gave -11: cannot open the port {missing}: "
                      f"{missing} does not exist", done.stdout)


if __name__ == "__main__":
    unittest.main()
