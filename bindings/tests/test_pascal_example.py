"""The Pascal example (venda, built with Free Pascal; path in TARVO_VENDA)
against the emulator over a pseudo-terminal."""

import os
import subprocess
import tempfile
import unittest

import tarvo
from emulator import Emulator

RUN_TIMEOUT_S = 60


def run_venda(port, cwd):
    return subprocess.run([os.environ["TARVO_VENDA"], port], cwd=cwd, capture_output=True,
                          timeout=RUN_TIMEOUT_S, stdin=subprocess.DEVNULL)


class VendaExample(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory(prefix="tarvo-pas-")
        self.addCleanup(work.cleanup)
        self.cwd = work.name
        self.emu = Emulator()
        self.addCleanup(self.emu.stop)

    def test_whole_sale(self):
        out = run_venda(self.emu.path, self.cwd)
        self.assertEqual(out.returncode, 0, out)
        self.assertEqual(out.stdout.decode().splitlines(), [
            'Printer: "EMU0000001"',
            'Receipt: "1"',
            'Item: "1" "6,50"',
            'Item: "2" "19,40"',
            'Payment: "0,00" "0,60"',
            'Closed: "1" "19,40"',
        ])
        paper = self.emu.paper()
        # The cp1252 description reached the printer intact.
        for line in ("7891000100103 Ma\u00e7\u00e3 gala", "2 x 3,25", "Obrigado, volte sempre"):
            self.assertIn(line, paper)
        self.assertRegex(paper, r"TOTAL R\$ +19,40")

    def test_refused_sale_reports_the_printer_error(self):
        # A receipt left open by another host: AbreCupom is refused.
        with tarvo.Printer(self.emu.path) as p:
            p.run("AbreCupom").check()
        out = run_venda(self.emu.path, self.cwd)
        self.assertEqual(out.returncode, 1, out)
        self.assertRegex(out.stdout.decode(), r"Receipt: error 5 ErroDocumentoAberto: \S")

    def test_bad_port(self):
        out = run_venda("/dev/tarvo-no-such-device", self.cwd)
        self.assertEqual(out.returncode, 1, out)
        self.assertIn("error -11", out.stdout.decode())


if __name__ == "__main__":
    unittest.main()
