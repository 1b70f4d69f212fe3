"""Python binding of TARVO, the fiscal printer (ECF) communications driver.

Two layers, standard library only (ctypes):

* The calls of the C interface under their own names, with Python types:
  ``IniciaDriver("/dev/ttyUSB0") -> 1``, ``Retorno(h, "COO") -> (n, "12")``,
  ``FC_Operacao(n, cmd) -> (code, text)``, and the ``FcCommand`` record.
  Texts go in as ``str`` (encoded in the Windows ANSI code page, cp1252) or
  ``bytes`` (passed as they are) and come back as ``str``.

* ``Printer``: one session as a context manager. ``run(command, **params)``
  stages the parameters, runs the command and returns a ``Result`` (code,
  error name, circumstance and the requested values); a protocol failure
  (no valid answer from the printer, code 11010) raises ``ProtocolError``,
  or ``OutcomeUnknownError`` for a command that changes the printer's state
  (``Printer.retransmit()`` repeats it safely).

The library is looked for in the environment variable TARVO_LIBRARY (a file
path), then under its usual names: on Windows ``tarvo.dll`` beside this
module, then on the system's search path; elsewhere ``libtarvo.so`` and
``libtarvo.so.2`` on the library search path. It is loaded on first use, so
importing this module never fails. A 32-bit DLL needs a 32-bit Python.

The library keeps one process-wide session and is not thread-safe; every
call of this module that touches it holds one module-wide lock, so Python
threads sharing a ``Printer`` see whole commands, never interleaved ones.
"""

from __future__ import annotations

import codecs
import ctypes
import dataclasses
import datetime as _dt
import decimal
import json
import os
import re
import shutil
import subprocess
import sys
import threading
from typing import Any, Iterable, Mapping, NamedTuple

__all__ = [
    # constants
    "OK_HANDLE", "ANSWERED", "OK", "BUSY", "EXCHANGE_FAILED", "BAD_CHANNEL",
    "BAD_HANDLE", "VALUE_UNREADABLE", "TOO_LONG", "NULL_ARGUMENT",
    "REFUSED_BUSY", "PROTOCOL_FAILURE", "ERROR_NAME_SIZE", "CIRCUMSTANCE_SIZE", "VALUE_SIZE",
    "FC_TEXT_SIZE", "MAX_COMMAND", "MAX_PARAMS", "MAX_PORT_NAME",
    "TYPE_PLAIN", "TYPE_DATE", "TYPE_TIME", "TYPE_QUOTED", "ENCODING",
    # low level
    "FcParam", "FcCommand", "library", "load_library", "fc_command",
    "IniciaDriver", "EncerraDriver", "DefineTimeout", "DoMessage",
    "LimpaParams", "AdicionaParam", "ExecutaComando", "ObtemCodErro",
    "ObtemNomeErro", "ObtemCircunstancia", "Retorno",
    "FC_Operacao", "FC_Inicializa", "FC_Finaliza",
    # idiomatic layer
    "Printer", "Result", "Param", "Plain", "Quoted", "Date", "Time",
    "TarvoError", "ProtocolError", "PrinterError", "PortError", "explain_port",
    "OutcomeUnknownError", "STATE_CHANGING_COMMANDS", "changes_printer_state",
]

# ---- Result codes and bounds (as in tarvo.h) ------------------------------

OK_HANDLE = 1
ANSWERED = 1
OK = 0
BUSY = 0
EXCHANGE_FAILED = -1
BAD_CHANNEL = -11
BAD_HANDLE = -14
VALUE_UNREADABLE = -15
TOO_LONG = -20
NULL_ARGUMENT = -21
REFUSED_BUSY = -22
PROTOCOL_FAILURE = 11010

ERROR_NAME_SIZE = 101
CIRCUMSTANCE_SIZE = 203
VALUE_SIZE = 4096
FC_TEXT_SIZE = 4096
MAX_COMMAND = 59
MAX_PARAMS = 511
MAX_PORT_NAME = 39
FC_PARAM_COUNT = 17

# Type codes of AdicionaParam: 2 and 3 wrap the value in '#', 7 in double
# quotes; every other code leaves it bare.
TYPE_PLAIN = 0
TYPE_DATE = 2
TYPE_TIME = 3
TYPE_QUOTED = 7

ENCODING = "cp1252"

# ---- Text ----------------------------------------------------------------

# Windows maps the five bytes that cp1252 leaves undefined to the C1 control
# characters of the same number; Python's codec refuses them. This handler
# does what Windows does, in both directions, so that no byte of a printer
# answer is lost or replaced.
_C1_UNDEFINED = frozenset((0x81, 0x8D, 0x8F, 0x90, 0x9D))


def _c1_handler(error: UnicodeError):
    if isinstance(error, UnicodeDecodeError):
        byte = error.object[error.start]
        if byte in _C1_UNDEFINED:
            return chr(byte), error.start + 1
    elif isinstance(error, UnicodeEncodeError):
        ch = ord(error.object[error.start])
        if ch in _C1_UNDEFINED:
            return bytes((ch,)), error.start + 1
    raise error


codecs.register_error("tarvo-c1", _c1_handler)


def _encode(text: str | bytes, what: str) -> bytes:
    """str -> cp1252 bytes (bytes pass unchanged); refuses what C can't carry."""
    if isinstance(text, bytes):
        data = text
    elif isinstance(text, str):
        try:
            data = text.encode(ENCODING, "tarvo-c1")
        except UnicodeEncodeError as e:
            raise ValueError(
                f"{what}: {text[e.start:e.end]!r} has no place in the {ENCODING} code page") from None
    else:
        raise TypeError(f"{what}: expected str or bytes, got {type(text).__name__}")
    if b"\0" in data:
        # The C side would silently cut the text at the zero.
        raise ValueError(f"{what}: contains a zero byte")
    return data


def _decode(data: bytes) -> str:
    return data.decode(ENCODING, "tarvo-c1")


# ---- The records of the facade ------------------------------------------

class FcParam(ctypes.Structure):
    """One parameter entry of FcCommand: 528 bytes, no gaps."""
    _pack_ = 1
    _fields_ = [
        ("name", ctypes.c_char * 30),
        ("value", ctypes.c_char * 494),
        ("type", ctypes.c_int32),
    ]


class FcCommand(ctypes.Structure):
    """One facade operation: 9060 bytes, no gaps (binary interface)."""
    _pack_ = 1
    _fields_ = [
        ("command", ctypes.c_char * 30),
        ("returnNames", ctypes.c_char * 50),
        ("timeoutMs", ctypes.c_int32),
        ("params", FcParam * FC_PARAM_COUNT),
    ]


def _check_layout() -> None:
    expected = {
        (FcParam, None): 528, (FcParam, "name"): 0, (FcParam, "value"): 30,
        (FcParam, "type"): 524,
        (FcCommand, None): 9060, (FcCommand, "command"): 0,
        (FcCommand, "returnNames"): 30, (FcCommand, "timeoutMs"): 80,
        (FcCommand, "params"): 84,
    }
    for (record, field), want in expected.items():
        got = ctypes.sizeof(record) if field is None else getattr(record, field).offset
        if got != want:
            what = record.__name__ + ("" if field is None else "." + field)
            raise ImportError(f"tarvo: {what} is at {got}, the library expects {want}")


_check_layout()


def _fit(field_size: int, text: str | bytes, what: str) -> bytes:
    data = _encode(text, what)
    if len(data) >= field_size:
        raise ValueError(f"{what}: {len(data)} bytes, at most {field_size - 1} fit")
    return data


def fc_command(command: str | bytes, params: Iterable[tuple] = (),
               return_names: str | bytes | Iterable[str] = "",
               timeout_ms: int = 0) -> tuple[FcCommand, int]:
    """Builds an FcCommand; returns it and the number of parameters it holds.

    ``params`` are (name, value, type code) triples; ``return_names`` is a
    text of names separated by single blanks, or an iterable of names. A text
    that does not fit its field raises ValueError (nothing is cut short).
    """
    cmd = FcCommand()
    cmd.command = _fit(30, command, "command")
    if not isinstance(return_names, (str, bytes)):
        return_names = " ".join(return_names)
    cmd.returnNames = _fit(50, return_names, "returnNames")
    cmd.timeoutMs = int(timeout_ms)
    count = 0
    for name, value, type_code in params:
        if count == len(cmd.params):
            raise ValueError(f"at most {len(cmd.params)} parameters fit an FcCommand")
        entry = cmd.params[count]
        entry.name = _fit(30, name, "parameter name")
        entry.value = _fit(494, value, f"value of {name}")
        entry.type = int(type_code)
        count += 1
    return cmd, count


# ---- Loading the library --------------------------------------------------

_lock = threading.RLock()
_library: ctypes.CDLL | None = None
_session_owner: "Printer | None" = None  # the one open Printer, if any

_c_int = ctypes.c_int
_c_str = ctypes.c_char_p
_c_buf = ctypes.c_char_p  # output buffers: create_string_buffer objects

_DRIVER_PROTOTYPES = {
    "IniciaDriver": (_c_int, [_c_str]),
    "EncerraDriver": (_c_int, [_c_int]),
    "DefineTimeout": (None, [_c_int, _c_int]),
    "DoMessage": (_c_int, []),
    "LimpaParams": (_c_int, [_c_int]),
    "AdicionaParam": (_c_int, [_c_int, _c_str, _c_str, _c_int]),
    "ExecutaComando": (_c_int, [_c_int, _c_str]),
    "ObtemCodErro": (_c_int, [_c_int]),
    "ObtemNomeErro": (_c_int, [_c_int, _c_buf, _c_int]),
    "ObtemCircunstancia": (_c_int, [_c_int, _c_buf, _c_int]),
    "Retorno": (_c_int, [_c_int, _c_int, _c_str, _c_int, _c_buf, _c_int]),
}
_FACADE_PROTOTYPES = {
    "FC_Operacao": (_c_int, [_c_int, ctypes.POINTER(FcCommand),
                             ctypes.POINTER(_c_int), _c_buf]),
    "FC_Inicializa": (_c_int, [_c_str]),
    "FC_Finaliza": (_c_int, []),
}

#: Every exported name: the eleven driver calls, each also with TARVO_, and
#: the three facade calls.
EXPORTED_NAMES = tuple(list(_DRIVER_PROTOTYPES) + ["TARVO_" + n for n in _DRIVER_PROTOTYPES]
                       + list(_FACADE_PROTOTYPES))


def _candidates() -> list[str]:
    path = os.environ.get("TARVO_LIBRARY")
    if path:
        return [path]
    if sys.platform == "win32":
        # Python looks neither in PATH nor in the current directory for a
        # DLL named without a folder; beside this module is the usual place.
        return [os.path.join(os.path.dirname(os.path.abspath(__file__)), "tarvo.dll"),
                "tarvo.dll"]
    return ["libtarvo.so", "libtarvo.so.2"]


def load_library(path: str | None = None) -> ctypes.CDLL:
    """Loads the library (once per process) and gives every call its prototype.

    With ``path`` that file is loaded; otherwise TARVO_LIBRARY or the usual
    names. Windows uses the stdcall loader (WinDLL), other systems cdecl.
    """
    global _library
    with _lock:
        if _library is not None:
            return _library
        loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL  # type: ignore[attr-defined]
        names = [path] if path else _candidates()
        errors = []
        for name in names:
            try:
                lib = loader(name)
                break
            except OSError as e:
                errors.append(f"{name}: {e}")
        else:
            raise OSError("tarvo: library not found (set TARVO_LIBRARY to its path); tried "
                          + "; ".join(errors))
        for name, (restype, argtypes) in _DRIVER_PROTOTYPES.items():
            for exported in (name, "TARVO_" + name):
                fn = getattr(lib, exported)
                fn.restype, fn.argtypes = restype, argtypes
        for name, (restype, argtypes) in _FACADE_PROTOTYPES.items():
            fn = getattr(lib, name)
            fn.restype, fn.argtypes = restype, argtypes
        _library = lib
        return lib


def library() -> ctypes.CDLL:
    """The loaded library, with the raw calls (all 25 names) prototyped."""
    return _library if _library is not None else load_library()


# ---- The calls, with Python types -----------------------------------------

def IniciaDriver(port: str | bytes) -> int:
    """Opens the session; 1 (the handle) or -11."""
    port = _encode(port, "port")
    with _lock:
        return library().IniciaDriver(port)


def EncerraDriver(handle: int) -> int:
    with _lock:
        return library().EncerraDriver(handle)


def DefineTimeout(handle: int, timeout_ms: int) -> None:
    with _lock:
        library().DefineTimeout(handle, timeout_ms)


def DoMessage() -> int:
    with _lock:
        return library().DoMessage()


def LimpaParams(handle: int) -> int:
    with _lock:
        return library().LimpaParams(handle)


def AdicionaParam(handle: int, name: str | bytes, value: str | bytes, type_code: int) -> int:
    name = _encode(name, "parameter name")
    value = _encode(value, "parameter value")
    with _lock:
        return library().AdicionaParam(handle, name, value, type_code)


def ExecutaComando(handle: int, command: str | bytes) -> int:
    """1 answered, -1 exchange failed, 0 busy, -14/-20/-21 refused.

    An empty command resends the last one with its id and parameters.
    """
    command = _encode(command, "command")
    with _lock:
        return library().ExecutaComando(handle, command)


def ObtemCodErro(handle: int) -> int:
    with _lock:
        return library().ObtemCodErro(handle)


def ObtemNomeErro(handle: int) -> str:
    """The last answer's error name ("" for a wrong handle)."""
    buffer = ctypes.create_string_buffer(ERROR_NAME_SIZE)
    with _lock:
        library().ObtemNomeErro(handle, buffer, ERROR_NAME_SIZE)
    return _decode(buffer.value)


def ObtemCircunstancia(handle: int) -> str:
    """The last answer's (or failure's) circumstance ("" for a wrong handle)."""
    buffer = ctypes.create_string_buffer(CIRCUMSTANCE_SIZE)
    with _lock:
        library().ObtemCircunstancia(handle, buffer, CIRCUMSTANCE_SIZE)
    return _decode(buffer.value)


def Retorno(handle: int, name: str | bytes) -> tuple[int, str]:
    """(result, value): result is the count of characters, or the last
    exchange's error code, or a negative code; value is "" unless found."""
    name = _encode(name, "value name")
    buffer = ctypes.create_string_buffer(VALUE_SIZE)
    with _lock:
        n = library().Retorno(handle, 0, name, 0, buffer, 0)
    return n, _decode(buffer.value)


def FC_Inicializa(port: str | bytes) -> int:
    port = _encode(port, "port")
    with _lock:
        return library().FC_Inicializa(port)


def FC_Finaliza() -> int:
    with _lock:
        return library().FC_Finaliza()


def FC_Operacao(num_params: int, cmd: FcCommand, want_text: bool = True) -> tuple[int, str | None]:
    """Runs one facade operation: (code, text).

    ``text`` holds the values named in ``cmd.returnNames``, each in double
    quotes, separated by blanks; None when ``want_text`` is false (then no
    values are fetched) or when the code is not 0. ``num_params`` may not
    exceed the 17 entries of the record.
    """
    if not isinstance(cmd, FcCommand):
        raise TypeError("cmd must be an FcCommand")
    if num_params > len(cmd.params):
        # The library would read past the end of the record.
        raise ValueError(f"num_params {num_params} exceeds the {len(cmd.params)} entries")
    length = ctypes.c_int(-1)
    buffer = ctypes.create_string_buffer(FC_TEXT_SIZE)
    with _lock:
        if want_text:
            code = library().FC_Operacao(num_params, ctypes.byref(cmd), ctypes.byref(length), buffer)
        else:
            code = library().FC_Operacao(num_params, ctypes.byref(cmd), None, None)
    if code != OK or not want_text:
        return code, None
    return code, _decode(buffer.raw[:max(length.value, 0)])


# ---- Typed parameters -----------------------------------------------------

class Param(NamedTuple):
    """A parameter value with its type code, as AdicionaParam takes it."""
    value: str | bytes
    type: int


def Plain(value: Any) -> Param:
    """Written bare: Nome=value (numbers, amounts, words)."""
    return Param(_plain_text(value), TYPE_PLAIN)


def Quoted(value: str | bytes) -> Param:
    """Written in double quotes: Nome="value" (free text)."""
    return Param(value, TYPE_QUOTED)


def Date(value: _dt.date | str) -> Param:
    """Written between '#': Nome=#dd/mm/yyyy#."""
    if isinstance(value, _dt.date):
        value = value.strftime("%d/%m/%Y")
    return Param(value, TYPE_DATE)


def Time(value: _dt.time | str) -> Param:
    """Written between '#': Nome=#hh:mm:ss#."""
    if isinstance(value, _dt.time):
        value = value.strftime("%H:%M:%S")
    return Param(value, TYPE_TIME)


def _plain_text(value: Any) -> str | bytes:
    if isinstance(value, bool):
        raise TypeError("a bool has no agreed form in the printer's language; pass a str")
    if isinstance(value, int):
        return str(value)
    if isinstance(value, decimal.Decimal):
        if not value.is_finite():
            raise ValueError(f"{value} is not an amount")
        return format(value, "f").replace(".", ",")
    if isinstance(value, float):
        raise TypeError("pass amounts as decimal.Decimal or text, not float")
    if isinstance(value, (str, bytes)):
        return value
    raise TypeError(f"no parameter form for {type(value).__name__}")


def _as_param(value: Any) -> Param:
    """The type code a Python value gets when none is given explicitly."""
    if isinstance(value, Param):
        return value
    if isinstance(value, tuple) and len(value) == 2:
        return Param(*value)
    if isinstance(value, str):
        return Quoted(value)
    if isinstance(value, _dt.datetime):
        raise TypeError("pass a date or a time, not a datetime")
    if isinstance(value, _dt.date):
        return Date(value)
    if isinstance(value, _dt.time):
        return Time(value)
    return Plain(value)


_NAME = re.compile(r"[A-Za-z0-9_]+\Z")


def _check_param(name: str, param: Param) -> tuple[bytes, bytes, int]:
    """Refuses what would change the structure of the parameter text.

    Nothing is escaped in the printer's language, so a quote inside a quoted
    value, a '#' inside a date, or a blank inside a bare value would end the
    value early and let the rest be read as further parameters.
    The command-line host keeps the same rules in C++; both are tested
    against tests/tools/common/param_cases.txt.
    """
    if not _NAME.match(name):
        raise ValueError(f"parameter name {name!r}: letters, digits and '_' only")
    value = _encode(param.value, f"value of {name}")
    code = int(param.type)
    if code in (TYPE_DATE, TYPE_TIME):
        forbidden = b"#"
    elif code == TYPE_QUOTED:
        forbidden = b'"'
    else:
        forbidden = b" "
        # A bare value opening with '"' reads as a quoted text that runs on
        # into the parameters after it.
        if value.startswith(b'"'):
            raise ValueError(f"value of {name}: a value of type {code} can't start with '\"'")
    bad = [chr(c) for c in forbidden if c in value]
    if bad:
        raise ValueError(f"value of {name}: {bad[0]!r} can't stand in a value of type {code}")
    return name.encode("ascii"), value, code


# ---- Errors -------------------------------------------------------------

class TarvoError(Exception):
    """The driver refused a call (bad port, wrong handle, text too long...)."""

    def __init__(self, message: str, code: int):
        super().__init__(message)
        self.code = code


class PortError(TarvoError):
    """IniciaDriver refused the port (-11); the message says why.

    ``device`` is the device the name reached, ``mapping`` where that came
    from ("given", "registry", "default" or "none"), ``cause`` a short key
    ("missing", "not-a-terminal", "permission", "busy", "name-too-long",
    "bad-name", "network", ...); all empty when no explanation could be had.
    """

    def __init__(self, message: str, code: int, facts: dict | None = None):
        super().__init__(message, code)
        facts = facts or {}
        self.device = facts.get("device", "")
        self.mapping = facts.get("mapping", "")
        self.cause = facts.get("cause", "")
        self.registry = facts.get("registry", "")


def _library_file() -> str:
    """The file the library was loaded from, wherever the loader found it."""
    name = getattr(_library, "_name", "") or ""
    if os.path.isabs(name) or _library is None or sys.platform == "win32":
        return name
    # Loaded by its bare name from the search path: ask the loader which file
    # holds one of its functions.
    class DlInfo(ctypes.Structure):
        _fields_ = [("fname", ctypes.c_char_p), ("fbase", ctypes.c_void_p),
                    ("sname", ctypes.c_char_p), ("saddr", ctypes.c_void_p)]
    try:
        dladdr = ctypes.CDLL(None).dladdr
    except (OSError, AttributeError):
        return name
    dladdr.argtypes, dladdr.restype = [ctypes.c_void_p, ctypes.POINTER(DlInfo)], ctypes.c_int
    info = DlInfo()
    address = ctypes.cast(_library.IniciaDriver, ctypes.c_void_p).value
    if dladdr(address, ctypes.byref(info)) and info.fname:
        return os.path.abspath(os.fsdecode(info.fname))  # relative to the start's directory
    return name


def _tool() -> str | None:
    """The tarvo tool, which explains port failures: TARVO_CLI, else the one
    that came with the library loaded (bin/ beside an installed library's
    directory, tools/ in a build tree), else the PATH's."""
    path = os.environ.get("TARVO_CLI")
    if path:
        return path
    library_path = _library_file()
    if os.path.isabs(library_path):
        here = os.path.dirname(os.path.realpath(library_path))
        for beside in (os.path.join(here, "..", "bin", "tarvo"),
                       os.path.join(here, "..", "..", "bin", "tarvo"),  # lib/<triplet>/
                       os.path.join(here, "tools", "tarvo")):
            if os.path.isfile(beside) and os.access(beside, os.X_OK):
                return os.path.normpath(beside)
    return shutil.which("tarvo")


def explain_port(port: str | bytes) -> dict:
    """Why the driver can't open ``port``, as ``tarvo why PORT --json``
    says it (the same words as the tool's); {} when the tool is missing."""
    tool = _tool()
    if tool is None:
        return {}
    name = os.fsdecode(port) if isinstance(port, bytes) else port
    try:
        done = subprocess.run([tool, "why", name, "--json"], capture_output=True, timeout=10,
                              check=False)
        return json.loads(done.stdout.decode("utf-8", "replace") or "{}")
    except (OSError, ValueError, subprocess.SubprocessError):
        return {}


def _port_error(call: str, port: str | bytes, code: int) -> PortError:
    name = os.fsdecode(port) if isinstance(port, bytes) else port
    scan = call == "FC_Inicializa" and len(name) >= 4 and name[3] in "Uu"
    facts = explain_port(port) if code == BAD_CHANNEL and not scan else {}
    why = facts.get("explanation")
    message = f"{call}({port!r}) gave {code}" + (f": {why}" if why else "")
    return PortError(message, code, facts)


class ProtocolError(TarvoError):
    """No valid answer from the printer (code 11010, "ErroProtTimeout")."""

    def __init__(self, command: str, name: str, circumstance: str):
        super().__init__(f"{command}: protocol failure {PROTOCOL_FAILURE} {name}: {circumstance}",
                         PROTOCOL_FAILURE)
        self.command = command
        self.name = name
        self.circumstance = circumstance


#: The commands that change what the printer holds (a receipt opened, an
#: item sold, a payment...). The library's own list; a test compares them.
STATE_CHANGING_COMMANDS = (
    "AbreCupom", "VendeItem", "PagaCupom", "EncerraCupom", "CancelaCupom",
    "AbreCreditoDebito", "ImprimeTexto", "EncerraCreditoDebito", "EmiteReducaoZ",
)

# The two circumstances that only an exchange whose request was written
# whole can end with: the answer never came, or came damaged. "Sem sinal de
# CTS" comes both before the request is written and after it (CTS lost while
# the answer is awaited, as when the printer drops it while it prints), and
# "Erro de Transmissao" may follow a write that got part or all of the
# frame out; neither proves that nothing reached the printer.
_SENT_WHOLE = ("Erro de Recepcao", "Erro de Secao ou CRC")


def changes_printer_state(command: str) -> bool:
    """Whether ``command`` (spelt exactly) is in STATE_CHANGING_COMMANDS."""
    return command in STATE_CHANGING_COMMANDS


class OutcomeUnknownError(ProtocolError):
    """A command that changes the printer's state got no valid answer.

    The rule, the same in every binding: any protocol failure (11010) of a
    command in STATE_CHANGING_COMMANDS, whatever its circumstance, since
    none of them proves that the printer did not carry the command out.
    ``request_sent`` is True when the circumstance proves that the request
    went out whole ("Erro de Recepcao", "Erro de Secao ou CRC"), False
    when it leaves that open; either way the outcome is unknown.

    Do not simply run the command again: that can register a sale twice.
    Repeat it with ``Printer.retransmit()`` (same id: a printer that carried
    it out answers from memory), or check the printer first (a reading
    command, or the receipt) and then call ``Printer.resolve_unknown()``.
    """

    def __init__(self, command: str, name: str, circumstance: str, *, refused: bool = False):
        super().__init__(command, name, circumstance)
        self.request_sent = circumstance in _SENT_WHOLE
        head = (f"{command}: not sent again, the outcome of the same command is still unknown"
                if refused else str(self))
        self.args = (f"{head}; the printer may have carried it out: check the printer (a reading "
                     f"command, or the receipt) before repeating it, or repeat it with "
                     f"retransmit(), which the printer does not carry out twice",)


class PrinterError(TarvoError):
    """The printer answered and refused the command (Result.check())."""

    def __init__(self, result: "Result"):
        super().__init__(f"{result.command}: printer error {result.code} {result.name}: "
                         f"{result.circumstance}", result.code)
        self.result = result
        self.name = result.name
        self.circumstance = result.circumstance


# ---- Results --------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Result:
    """The outcome of one command that the printer answered."""
    command: str
    code: int            # 0: carried out; else the printer's error code
    name: str            # error name, "OK" after success
    circumstance: str
    values: dict         # requested name -> text ("" when not in the answer)

    @property
    def ok(self) -> bool:
        return self.code == 0

    def check(self) -> "Result":
        """Returns self when the printer carried the command out, else raises
        PrinterError."""
        if self.code != 0:
            raise PrinterError(self)
        return self

    def __getitem__(self, name: str) -> str:
        return self.values[name]

    def integer(self, name: str) -> int:
        return int(self.values[name])

    def decimal(self, name: str) -> decimal.Decimal:
        """An amount such as "1.234,50" or "12.50" as a Decimal."""
        text = self.values[name].strip()
        if "," in text:
            text = text.replace(".", "").replace(",", ".")
        return decimal.Decimal(text)

    def date(self, name: str) -> _dt.date:
        return _dt.datetime.strptime(self.values[name], "%d/%m/%Y").date()

    def time(self, name: str) -> _dt.time:
        return _dt.datetime.strptime(self.values[name], "%H:%M:%S").time()


def _names(returns: str | Iterable[str]) -> list[str]:
    if isinstance(returns, str):
        return returns.split()
    return list(returns)


# ---- The session ------------------------------------------------------------

class Printer:
    """One session with the printer.

    ``Printer(port)`` opens it with IniciaDriver and runs commands through
    the driver calls; ``Printer(port, facade=True)`` opens it with
    FC_Inicializa (which identifies the printer and names the trace files
    after it) and runs every command through FC_Operacao, which resends it
    up to twice after a protocol failure (never VendeItem, AbreCreditoDebito
    and EmiteReducaoZ). Either way the requested values are read by name
    with Retorno once the printer has answered.

    The library has one session per process: a second open Printer raises
    TarvoError(-11).

    A command of STATE_CHANGING_COMMANDS that gets no valid answer raises
    OutcomeUnknownError: the printer may have carried it out. Until the
    host settles that (``retransmit()``, ``resolve_unknown()``, or another
    state-changing command answered), running the very same command with
    the same parameters again is refused before anything is sent, so that
    a blind repeat can't register it twice.
    """

    def __init__(self, port: str | bytes, *, facade: bool = False, timeout_ms: int | None = None):
        self.port = port
        self.facade = facade
        self.timeout_ms = timeout_ms
        self.handle: int | None = None
        # (command, staged parameters) of the last new command sent, which
        # is what the driver's retransmission repeats, and of the command
        # whose outcome is unknown, if any.
        self._last_sent: tuple | None = None
        self._unknown: tuple | None = None

    # -- life cycle
    def open(self) -> "Printer":
        global _session_owner
        if self.handle is not None:
            return self
        with _lock:
            if _session_owner is not None:
                # Not even tried: a failed FC_Inicializa would overwrite the
                # open facade session's handle, and that session could then
                # no longer be closed.
                raise TarvoError("a session is already open in this process", BAD_CHANNEL)
            if self.facade:
                code = FC_Inicializa(self.port)
                if code == BAD_CHANNEL:
                    raise _port_error("FC_Inicializa", self.port, code)
                if code != OK:
                    raise TarvoError(f"FC_Inicializa({self.port!r}) gave {code}", code)
                self.handle = OK_HANDLE
            else:
                handle = IniciaDriver(self.port)
                if handle != OK_HANDLE:
                    raise _port_error("IniciaDriver", self.port, handle)
                self.handle = handle
            _session_owner = self
        return self

    def close(self) -> None:
        """Ends the session; a second close does nothing."""
        global _session_owner
        if self.handle is None:
            return
        with _lock:
            code = FC_Finaliza() if self.facade else EncerraDriver(self.handle)
            self.handle = None
            _session_owner = None
        if code != OK:
            raise TarvoError(f"closing the session gave {code}", code)

    def __enter__(self) -> "Printer":
        return self.open()

    def __exit__(self, exc_type, exc, tb) -> None:
        try:
            self.close()
        except TarvoError:
            if exc_type is None:
                raise

    # -- commands
    def run(self, command: str, /, returns: str | Iterable[str] = (), *,
            timeout_ms: int | None = None, params: Mapping[str, Any] | None = None,
            **kwparams: Any) -> Result:
        """Runs one command and returns its Result.

        Parameters come as keywords (in their order) or in ``params``: a str
        is sent quoted, an int or Decimal bare (Decimal with a decimal
        comma), a date or time between '#'; ``Plain``, ``Quoted``, ``Date``,
        ``Time`` or a (value, type code) tuple choose the form explicitly.
        ``returns`` names the values to read (a list, or one text with
        blanks between names). ``timeout_ms`` is the per-byte answer
        time-out for this command (at least 5000).

        Raises ProtocolError when the printer gave no valid answer
        (OutcomeUnknownError for a state-changing command) and TarvoError
        when the driver refused the call; a printer error is returned in
        the Result (see Result.check()).
        """
        if self.handle is None:
            raise TarvoError("the printer session is not open", BAD_HANDLE)
        if not isinstance(command, str) or not _NAME.match(command):
            # An empty name would resend the previous command.
            raise ValueError(f"command {command!r}: letters, digits and '_' only")
        items = dict(params or {})
        items.update(kwparams)
        staged = [_check_param(name, _as_param(value)) for name, value in items.items()]
        names = _names(returns)
        timeout = self.timeout_ms if timeout_ms is None else timeout_ms
        key = (command, tuple(staged))
        with _lock:
            if self._unknown == key:
                raise OutcomeUnknownError(command, "", "", refused=True)
            if self.facade:
                code = self._run_facade(command, staged, timeout)
            else:
                code = self._run_driver(command, staged, timeout)
            self._last_sent = key
            return self._outcome(key, code, names)

    def retransmit(self, returns: str | Iterable[str] = ()) -> Result:
        """Sends the last command again, with its frame id and parameters
        (ExecutaComando with an empty name), and returns its Result.

        The printer takes a request whose id, command and parameters equal
        those of the last request it received for a repeat: it answers
        again from memory and does not carry it out a second time; if the
        first request never reached it, it carries this one out. Either
        way the command counts once. That holds as long as no other request
        reached the printer in between and it was not switched off, so call
        this right after the failure, before any other command (a reading
        command sent to check makes the last command a different one: then
        this is refused with RuntimeError). Raises like ``run``.
        """
        if self.handle is None:
            raise TarvoError("the printer session is not open", BAD_HANDLE)
        names = _names(returns)
        with _lock:
            key = self._last_sent
            if key is None:
                raise RuntimeError("nothing to retransmit: no command was sent in this session")
            if self._unknown is not None and self._unknown != key:
                raise RuntimeError(
                    f"a retransmission would repeat {key[0]}, not {self._unknown[0]} whose outcome "
                    "is unknown: check the printer, then call resolve_unknown()")
            h = self.handle
            if self.timeout_ms is not None:
                DefineTimeout(h, self.timeout_ms)
            try:
                result = ExecutaComando(h, "")
            finally:
                if self.timeout_ms is not None:
                    DefineTimeout(h, 5000)
            if result == BUSY:
                raise TarvoError(f"{key[0]}: another command is still running", BUSY)
            if result not in (ANSWERED, EXCHANGE_FAILED):
                self._refuse(result, key[0])
            code = ObtemCodErro(h)
            if result == EXCHANGE_FAILED and code == OK:
                code = PROTOCOL_FAILURE
            return self._outcome(key, code, names)

    def resolve_unknown(self) -> None:
        """Tells the Printer that the host has checked the printer after an
        OutcomeUnknownError: the same command may be run again."""
        with _lock:
            self._unknown = None

    def _outcome(self, key: tuple, code: int, names: list) -> Result:
        """The Result of the exchange just made (the lock held)."""
        command = key[0]
        h = self.handle
        name, circumstance = ObtemNomeErro(h), ObtemCircunstancia(h)
        if code == PROTOCOL_FAILURE:
            if changes_printer_state(command):
                self._unknown = key
                raise OutcomeUnknownError(command, name, circumstance)
            raise ProtocolError(command, name, circumstance)
        if changes_printer_state(command):
            self._unknown = None  # answered: the printer's state is known again
        values = {}
        if code == OK:
            for wanted in names:
                n, value = Retorno(h, wanted)
                if n < 0:
                    raise TarvoError(f"{command}: Retorno({wanted!r}) gave {n}", n)
                values[wanted] = value
        return Result(command, code, name, circumstance, values)

    def _run_driver(self, command: str, staged, timeout: int | None) -> int:
        h = self.handle
        if timeout is not None:
            DefineTimeout(h, timeout)
        try:
            self._refuse(LimpaParams(h), "LimpaParams")
            for name, value, code in staged:
                result = AdicionaParam(h, name, value, code)
                if result != OK:
                    LimpaParams(h)
                    self._refuse(result, f"{command}: parameter {name.decode()}")
            result = ExecutaComando(h, command)
        finally:
            if timeout is not None:
                DefineTimeout(h, 5000)
        if result == BUSY:
            raise TarvoError(f"{command}: another command is still running", BUSY)
        if result not in (ANSWERED, EXCHANGE_FAILED):
            self._refuse(result, command)
        code = ObtemCodErro(h)
        if result == EXCHANGE_FAILED and code == OK:
            # Never let a failed exchange read as success.
            code = PROTOCOL_FAILURE
        return code

    def _run_facade(self, command: str, staged, timeout: int | None) -> int:
        cmd, count = fc_command(command, staged, "", timeout or 0)
        code, _ = FC_Operacao(count, cmd, want_text=False)
        if code < 0:
            self._refuse(code, command)
        return code

    @staticmethod
    def _refuse(code: int, what: str) -> None:
        if code < 0:
            meaning = {BAD_HANDLE: "no open session", TOO_LONG: "text too long",
                       NULL_ARGUMENT: "missing argument",
                       REFUSED_BUSY: "another thread's command is running"}.get(code, "refused")
            raise TarvoError(f"{what}: {meaning} ({code})", code)

    def value(self, name: str) -> str:
        """Reads one more value of the last answer by name."""
        if self.handle is None:
            raise TarvoError("the printer session is not open", BAD_HANDLE)
        with _lock:
            # Retorno gives the last error code in place of a count: only
            # after a carried-out command is its result a count.
            code = ObtemCodErro(self.handle)
            if code != OK:
                raise TarvoError(f"Retorno({name!r}): the last command ended with {code}", code)
            n, value = Retorno(self.handle, name)
        if n < 0:
            raise TarvoError(f"Retorno({name!r}) gave {n}", n)
        return value
