#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target under fuzz/corpus/<target>/.

The seeds are the frames, values and settings used by the unit tests, in the
input layout each target reads (see the comment at the top of each target).
Inputs that once broke an invariant are kept in the same directories under
names starting with "regression-"; this script leaves them alone.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ID = "\x01"  # fuzz_exchange: stands for the id of the request being answered


def frame(body):
    """An answer frame with its length field: every character before the last ';'."""
    return f"{body};{len(body)}}}"


def text(s):
    """A length-prefixed text, as fuzz::Input::Text reads it."""
    b = s.encode("latin-1")
    assert len(b) < 256
    return bytes([len(b)]) + b


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def frames():
    raw = 0
    seeds = {
        "answer-quoted-value": (raw, 12, '{12;0;ValorTexto="ABC";22}'),
        "answer-plain-value": (raw, 7, "{7;0;ValorInteiro=42;20}"),
        "answer-no-values": (raw, 12, "{12;0;;6}"),
        "answer-printer-error": (raw, 12,
                                 '{12;8;NomeErro="ErroExemplo" Circunstancia="Texto de exemplo";61}'),
        "answer-length-off-by-one": (raw, 12,
                                     '{12;8;NomeErro="ErroExemplo" Circunstancia="Texto de exemplo";62}'),
        "answer-other-id": (raw, 12,
                            '{11;8;NomeErro="ErroExemplo" Circunstancia="Texto de exemplo";61}'),
        "answer-id-leading-zero": (raw, 12, '{012;0;ValorTexto="ABC";23}'),
        "print-text-with-brace": (1, 3, '{3;0;TextoImpressao="linha {1}; fim";36}'),
        "print-text-other-command": (raw, 3, '{3;0;TextoImpressao="linha {1}; fim";36}'),
        "print-text-unterminated": (1, 3, '{3;0;TextoImpressao="a" B=1;27}'),
        "noise-then-answer": (raw, 12, 'xy\x00z{12;0;ValorTexto="ABC";22}'),
        "stale-then-answer": (raw, 12, '{11;0;ValorTexto="velho";24}{12;0;ValorTexto="novo";23}'),
        "id-over-nine": (raw, 12, "{0000000012;0;;14}"),
        "code-over-nine": (raw, 12, "{12;1234567890;;15}"),
        "no-code-field": (raw, 12, "{12;3}"),
        "code-double-zero": (raw, 4, "{4;00;X=1;9}"),
        "zero-byte-inside": (raw, 5, "{5;0;A=\x00B;9}"),
        "unquoted-circumstance": (raw, 2, "{2;5;Circunstancia;18}"),
        "no-semicolon": (raw, 1, "{abc}"),
        "empty-frame": (raw, 0, "{0;;;4}"),
    }
    for name, (flags, ident, stream) in seeds.items():
        write("fuzz_frames", name, bytes([flags, ident]) + stream.encode("latin-1"))
    write("fuzz_frames", "built-success", bytes([2, 12]) + text("0") + b'ValorTexto="ABC"')
    write("fuzz_frames", "built-error", bytes([2, 12]) + text("8") +
          b'NomeErro="ErroExemplo" Circunstancia="Texto"')
    write("fuzz_frames", "built-print-text", bytes([3, 3]) + text("0") +
          b'TextoImpressao="x; {y} \\"z\\" w"')


def retorno():
    names = ["TextoImpressao", "ValorTexto", "ValorInteiro", "Data", "Hora", "Texto", ""]

    def seed(name, fields):
        if name in names:
            return bytes([names.index(name)]) + fields.encode("latin-1")
        return bytes([7]) + text(name) + fields.encode("latin-1")

    cases = {
        "plain": ("ValorInteiro", 'ValorInteiro=25 ValorTexto="ECF"'),
        "quoted": ("ValorTexto", 'ValorInteiro=25 ValorTexto="ECF"'),
        "prefix-of-name": ("Valor", 'ValorInteiro=25 ValorTexto="ECF"'),
        "inside-name": ("Texto", 'ValorInteiro=25 ValorTexto="ECF"'),
        "missing": ("NomeTexto", 'ValorInteiro=25 ValorTexto="ECF"'),
        "time": ("ValorTexto", "ValorTexto=#12:30:45# ValorInteiro=7"),
        "short-date": ("ValorTexto", "ValorTexto=#1:2:3# ValorInteiro=7"),
        "date-at-end": ("Data", "Data=#01/02"),
        "empty-quoted": ("ValorTexto", 'ValorTexto="";'),
        "print-text-escaped-quote": ("TextoImpressao", 'TextoImpressao="a\\"b";'),
        "print-text-other-name": ("Impressao", 'TextoImpressao="a\\"b";'),
        "print-text-specials": ("TextoImpressao", 'TextoImpressao="x; {y} \\"z\\" w";'),
        "print-text-backslashes": ("TextoImpressao", 'TextoImpressao="p\\\\q";'),
        "print-text-unterminated": ("TextoImpressao", 'A=1 TextoImpressao="abc'),
        "print-text-empty-then-item": ("TextoImpressao", 'TextoImpressao="" B=1'),
        "plain-last-with-mark": ("ValorInteiro", 'ValorTexto="ECF" ValorInteiro=7;'),
        "equals-at-end": ("A", "A="),
        "equals-then-blank": ("A", "A= B=1"),
        "empty-name": ("", 'ValorInteiro=25 ValorTexto="ECF"'),
    }
    for name, (lookup, fields) in cases.items():
        write("fuzz_retorno", name, seed(lookup, fields))
    write("fuzz_retorno", "after-error", bytes([8 | 1]) + b'ValorTexto="ECF"')


def config():
    def trace(name, content, missing=False, base=5):
        write("fuzz_config", "trace-" + name, bytes([0, base, 1 if missing else 0]) + content)

    trace("missing-file", b"", missing=True)
    trace("level-1-size-900", b"Trace=1\nTamanho=900")
    trace("level-2", b"Trace=2\nTamanho=5000000")
    trace("no-digit", b"Trace=\nTamanho=5000000")
    trace("blanks-around-sign", b"Trace = 1\nTamanho=5000000")
    trace("size-zero", b"Trace=1\nTamanho=0")
    trace("size-letters", b"Trace=1\nTamanho=abc")
    trace("small-log", b"Trace=3\nTamanho=200")
    trace("long-base-name", b"Trace=1\nTamanho=900", base=50)

    section_line = b"[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]"
    regs = {
        "basic": b"Windows Registry Editor Version 5.00\n\n" + section_line +
                 b'\n"CommSettings"="COM1:57600,E,8,1"\n',
        "regedit4-crlf-comment": b"REGEDIT4\r\n\r\n; line settings\r\n" + section_line +
                                 b'\r\n"Other"=dword:00000001\r\n"CommSettings"="COM1:57600,E,8,1"\r\n',
        "bom-mixed-case": b"\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n"
                          b'[HKEY_CLASSES_ROOT\\Other]\r\n"CommSettings"="COM9:9600,N,7,2"\r\n'
                          b"[hkey_classes_root\\belmorapos\\IMPRESSORAFISCAL]\r\n"
                          b'"commsettings"="COM1:57600,E,8,1"',
        "escapes-default": b'REGEDIT4\n[K]\n"Path"="a\\\\b\\"c"\n"Na\\"me"="x"\n@="default"\n',
        "ports": b"REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARVO\\Ports]\n@=\"/dev/ttyUSB0\"\n",
        "not-text": b"REGEDIT4\n" + section_line + b"\n\"CommSettings\"=hex:41,42\n",
    }
    for name, body in regs.items():
        write("fuzz_config", "reg-" + name, bytes([1, 20, 3]) + body)
    write("fuzz_config", "reg-small-room", bytes([1, 4, 3]) + regs["basic"])

    settings = {
        "57600": b"COM1:57600,E,8,1\x00",
        "38400-lower-e": b"COM1:38400,e,8,1\x00",
        "9600": b"COM1:9600,E,8,1\x00",
        "bad-fields": b"COM1:38400,N,7,2\x00",
        "comma-at-five": b"COM1:,E,8,1\x00",
        "no-terminator": b"COM1:115200,E,8,1",
        "too-long": b"COM1:115200,E,8,1 and more text\x00",
        "signed-blank": b"COM1: +19200,E,8,1\x00",
    }
    for name, value in settings.items():
        write("fuzz_config", "comm-" + name, bytes([2]) + value)


def staging():
    def add(name, value, type_code, extra=0):
        return bytes([1]) + text(name) + bytes([extra]) + text(value) + bytes([type_code & 0xFF])

    def execute(command, printer=0):
        return bytes([2 | (printer << 3)]) + text(command)

    write("fuzz_staging", "three-types",
          add("A", "1", 0) + add("B", "x y", 7) + add("D", "01/02/2026", 3) + execute("LeTexto"))
    write("fuzz_staging", "new-then-retransmissions",
          add("NomeTexto", "NumeroSerieECF", 7) + execute("LeTexto") + execute("LeInteiro") +
          execute("") + execute("") + execute("LeMoeda"))
    write("fuzz_staging", "retransmission-first", execute(""))
    write("fuzz_staging", "silent-printer", add("A", "1", 0) + execute("LeTexto", 2) + execute(""))
    write("fuzz_staging", "refused-then-stale", execute("VendeItem", 1) + execute("LeTexto", 3) +
          bytes([3, 4]) + text("Eco"))
    write("fuzz_staging", "params-overflow",
          add("P", "v", 7, 200) + add("Q", "w", 0, 200) + add("R", "z", 0) + execute("LeImpressao"))
    write("fuzz_staging", "command-too-long", execute("C" * 60) + execute("C" * 59))
    write("fuzz_staging", "wrong-handles",
          bytes([0xE0, 2, 0xE1, 0xFF]) + text("A") + bytes([0]) + text("1") + bytes([0]) +
          bytes([0xE2, 5]) + text("LeTexto") + bytes([0xE3, 0xFF, 0xE4, 0]) + text("A"))
    write("fuzz_staging", "timeouts-and-nulls", bytes([5, 0x10, 0x27, 5, 0xFF, 0xFF, 6]))
    write("fuzz_staging", "session-restart",
          execute("LeTexto") + bytes([7]) + execute("LeTexto") + bytes([0xE7, 0xFF]) +
          execute("LeTexto") + bytes([7]) + execute(""))


def exchange():
    def seg(*steps):
        return b"".join(steps) + b"\x03"

    def send(s, repeat=None):
        if repeat is None:
            return b"\x00" + text(s)
        return b"\x04" + text(s) + bytes([repeat])

    def pause(units50ms):
        return bytes([1, units50ms])

    def cts_drop(units100ms):
        return bytes([2, units100ms])

    def answer(values, code="0", ident=161):
        body = frame("{%d;%s;%s" % (ident, code, values))
        return body.replace("{%d;" % ident, "{" + ID + ";", 1)

    lei, letexto, vende, datahora = 0, 4, 8, 12
    cmd, op, cmd_retrans, op_twice = 0, 1, 2, 3
    cases = {
        "command-answered": (cmd | letexto, 0, 1, [seg(send(answer('ValorTexto="ABC" ValorInteiro=7')))]),
        "print-text": (cmd | lei, 0, 0,
                       [seg(send(answer('TextoImpressao="linha {1}; \\"fim\\""')))]),
        "operation-print-text": (op | lei, 0, 0,
                                 [seg(send(answer('TextoImpressao="a\\"b"')))]),
        "operation-values": (op | letexto, 60, 1,
                             [seg(send(answer('ValorTexto="ABC" ValorInteiro=7')))]),
        "operation-date-time": (op | datahora, 0, 2,
                                [seg(send(answer("Data=#01/02/2026# Hora=#12:30:45#")))]),
        "operation-short-date": (op | datahora, 0, 2, [seg(send(answer("Hora=#12:3")))]),
        "operation-error-answer": (op | letexto, 0, 1,
                                   [seg(send(answer('NomeErro="ErroExemplo" Circunstancia="Texto"', "8")))]),
        "noise-first": (cmd | letexto, 0, 1, [seg(send("ab\x00c"), send(answer('ValorTexto="A"')))]),
        "stale-then-right": (cmd | letexto, 0, 1,
                             [seg(send(answer('ValorTexto="velho"', ident=160).replace(ID, "160")),
                                  send(answer('ValorTexto="novo"')))]),
        "silent-printer": (cmd | letexto, 0, 1, [seg()]),
        "pause-mid-frame": (cmd | letexto, 0, 1,
                            [seg(send("{" + ID + ";0;Valor"), pause(120), send('Texto="A";22}'))]),
        "cts-drop-mid-answer": (cmd | letexto, 0, 1,
                                [seg(send("{" + ID + ";0;"), cts_drop(5), pause(2), send("A=1;9}"))]),
        "cts-lost-before": (cmd | letexto | 16, 0, 1, [seg(send(answer("A=1")))]),
        "overlong-answer": (cmd | letexto, 0, 1, [seg(send("{" + ID + ";0;"), send("x" * 200, 30))]),
        "print-text-never-closed": (cmd | lei, 0, 0,
                                    [seg(send("{" + ID + ";0;TextoImpressao=\"" + "}" * 100, 10))]),
        "sale-not-resent": (op | vende, 0, 1, [seg(), seg(send(answer("A=1")))]),
        "resent-after-silence": (op | letexto, 0, 1, [seg(), seg(send(answer('ValorTexto="A"')))]),
        "retransmission": (cmd_retrans | letexto, 80, 1,
                           [seg(send(answer("A=1", "0")[:-3] + "99}")), seg(send(answer("A=1")))]),
        "two-operations": (op_twice | letexto, 0, 4,
                           [seg(send(answer('ValorTexto="A" Hora=#10:00:00#'))),
                            seg(send(answer('ValorTexto="B"', ident=162).replace(ID, "162")))]),
        "traced-exchange": (cmd | letexto | 32, 0, 1,
                            [seg(send("n"), pause(120), send(answer('ValorTexto="A"')))]),
        "negative-code": (op | letexto, 0, 1, [seg(send(answer("", "-14")))]),
        "start-up": (64, 0, 0, [seg(send(answer('ValorTexto="ABC123"'))),
                                seg(send(answer("ValorInteiro=1", ident=162).replace(ID, "162")))]),
        "start-up-traced-path-in-serial": (96, 0, 0,
                                           [seg(send(answer('ValorTexto="../x/y:z"'))),
                                            seg(send(answer('ValorInteiro="7/8"', ident=162)
                                                     .replace(ID, "162")))]),
        "start-up-long-serial": (64, 0, 0, [seg(send(answer('ValorTexto="%s"' % ("S" * 60)))),
                                            seg(send(answer("ValorInteiro=12345", ident=162)
                                                     .replace(ID, "162")))]),
        "start-up-busy-twice": (64, 0, 0,
                                [seg(send(answer('NomeErro="Ocupada"', "11015"))),
                                 seg(send(answer('NomeErro="Ocupada"', "11015", ident=162)
                                          .replace(ID, "162"))),
                                 seg(send(answer('ValorTexto="A1"', ident=163).replace(ID, "163"))),
                                 seg()]),
        "start-up-empty-serial": (64, 0, 0, [seg(send(answer('ValorTexto=""'))), seg()]),
        "start-up-scan": (192, 0, 0, [seg(), seg(), seg(), seg(send(answer('ValorTexto="U1"')))]),
    }
    for name, (flags, timeout, names, segments) in cases.items():
        write("fuzz_exchange", name, bytes([flags, timeout, names]) + b"".join(segments))


def main():
    frames()
    retorno()
    config()
    staging()
    exchange()
    return 0


if __name__ == "__main__":
    sys.exit(main())
