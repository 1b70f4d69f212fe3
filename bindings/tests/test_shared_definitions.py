"""What every binding must say exactly as the C header and the tools say it.

- The constants, record sizes and field offsets of include/tarvo.h, against
  each binding's own copy: the Python module, the Pascal unit and, where they
  exist, the C# and Java files. A binding is one reader function in BINDINGS.
- The commands that change the printer's state (src/protocol/state_changing.h),
  against the copies by which the Python, C# and Java bindings tell an
  unknown outcome from a plain protocol failure.
- The rules that keep a parameter value from breaking the parameter text,
  which the Python module keeps in its own words, against the cases the C++
  rules are tested with (tests/tools/common/param_cases.txt).

Needs bindings/python on the module path; not the library.
"""

import ctypes
import os
import re
import unittest

import tarvo

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", ".."))


def _read(*parts):
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def header():
    """The header's TARVO_ constants (without the prefix) and its layout:
    {(record, None): size, (record, field): offset}, field names lower-case."""
    text = _read("include", "tarvo.h")
    constants = {m[0]: int(m[1]) for m in
                 re.findall(r"^#define TARVO_(\w+) \(?(-?\d+)\)?\s*$", text, re.M)}
    layout = {}
    for record, size in re.findall(r"TARVO_STATIC_ASSERT\(sizeof\((\w+)\) == (\d+)", text):
        layout[(record, None)] = int(size)
    for record, field, offset in re.findall(
            r"TARVO_STATIC_ASSERT\(offsetof\((\w+), (\w+)\) == (\d+)", text):
        layout[(record, field.lower())] = int(offset)
    return constants, layout


def python_binding():
    constants = {name: value for name, value in vars(tarvo).items()
                 if re.fullmatch(r"[A-Z][A-Z0-9_]+", name) and isinstance(value, int)}
    layout = {}
    for record in (tarvo.FcParam, tarvo.FcCommand):
        layout[(record.__name__, None)] = ctypes.sizeof(record)
        for field, *_ in record._fields_:
            layout[(record.__name__, field.lower())] = getattr(record, field).offset
    return constants, layout


_PASCAL_TYPES = {"LongInt": 4, "AnsiChar": 1}
_PASCAL_FIELD_NAMES = {"paramtype": "type"}  # 'type' is a Pascal keyword


def pascal_binding():
    text = _read("bindings", "pascal", "tarvo.pas")
    constants = {m[0]: int(m[1]) for m in re.findall(r"^\s*TARVO_(\w+) = (-?\d+);", text, re.M)}
    sizes = dict(_PASCAL_TYPES)
    layout = {}
    for name, body in re.findall(r"^\s*T(\w+) = packed record\n(.*?)^\s*end;", text, re.M | re.S):
        offset = 0
        for field, kind in re.findall(r"^\s*(\w+): ([^;]+);", body, re.M):
            count = 1
            array = re.fullmatch(r"array\[0\.\.(.+)\] of (\w+)", kind.strip())
            if array:
                last = array[1].replace("TARVO_", "")
                for constant, value in constants.items():
                    last = re.sub(rf"\b{constant}\b", str(value), last)
                count = eval(last, {}) + 1  # a constant expression such as "17 - 1"
                kind = array[2]
            element = sizes[kind.strip()]
            field = field.lower()
            layout[(name, _PASCAL_FIELD_NAMES.get(field, field))] = offset
            offset += count * element
        layout[(name, None)] = offset
        sizes["T" + name] = offset
    return constants, layout


def csharp_binding():
    """None when the C# file is not there."""
    path = os.path.join(ROOT, "bindings", "dotnet", "Tarvo.cs")
    if not os.path.exists(path):
        return None
    text = _read("bindings", "dotnet", "Tarvo.cs")
    constants = {m[0]: int(m[1])
                 for m in re.findall(r"public const int (\w+) = (-?\d+);", text)}
    layout = {}
    for name, value in constants.items():
        m = re.fullmatch(r"(FCPARAM|FCCOMMAND)_(?:(\w+)_OFFSET|SIZE)", name)
        if m:
            record = {"FCPARAM": "FcParam", "FCCOMMAND": "FcCommand"}[m[1]]
            field = m[2].lower().replace("_", "") if m[2] else None
            layout[(record, field)] = value
    return constants, layout


def java_binding():
    """None when the Java file is not there."""
    path = os.path.join(ROOT, "bindings", "java", "src", "tarvo", "Codes.java")
    if not os.path.exists(path):
        return None
    text = _read("bindings", "java", "src", "tarvo", "Codes.java")
    constants = {m[0]: int(m[1])
                 for m in re.findall(r"public static final int (\w+) = (-?\d+);", text)}
    layout = {}
    for name, value in constants.items():
        m = re.fullmatch(r"(FCPARAM|FCCOMMAND)_(?:(\w+)_OFFSET|SIZE)", name)
        if m:
            record = {"FCPARAM": "FcParam", "FCCOMMAND": "FcCommand"}[m[1]]
            field = m[2].lower().replace("_", "") if m[2] else None
            layout[(record, field)] = value
    return constants, layout


BINDINGS = {"Python": python_binding, "Pascal": pascal_binding, "C#": csharp_binding,
            "Java": java_binding}


def _quoted_list(text, start, end):
    """The double-quoted names between the first ``start`` and the ``end`` after it."""
    begin = text.index(start)
    return re.findall(r'"(\w+)"', text[begin:text.index(end, begin)])


def state_changing():
    """{source: tuple of names}: the library's list and each binding's copy."""
    found = {"library": tuple(_quoted_list(_read("src", "protocol", "state_changing.h"),
                                           "kStateChangingCommands[]", "};")),
             "Python": tuple(tarvo.STATE_CHANGING_COMMANDS)}
    for language, parts, start, end in (
            ("C#", ("bindings", "dotnet", "Tarvo.cs"), "StateChangingCommands", "}"),
            ("Java", ("bindings", "java", "src", "tarvo", "Codes.java"),
             "STATE_CHANGING_COMMANDS", ";")):
        if os.path.exists(os.path.join(ROOT, *parts)):
            found[language] = tuple(_quoted_list(_read(*parts), start, end))
    return found


class HeaderAndBindingsAgree(unittest.TestCase):
    def test_every_binding_has_the_headers_constants_and_layout(self):
        want_constants, want_layout = header()
        self.assertGreater(len(want_constants), 20)
        self.assertEqual(len(want_layout), 9)
        for language, read in BINDINGS.items():
            found = read()
            if found is None:
                continue
            constants, layout = found
            with self.subTest(binding=language):
                for name, value in want_constants.items():
                    self.assertEqual(constants.get(name), value, f"{language}: {name}")
                self.assertEqual({k: layout.get(k) for k in want_layout}, want_layout, language)


class StateChangingCommands(unittest.TestCase):
    def test_every_binding_has_the_librarys_list(self):
        lists = state_changing()
        want = lists.pop("library")
        self.assertIn("VendeItem", want)
        self.assertNotIn("LeTexto", want)
        self.assertEqual(set(lists), {"Python", "C#", "Java"})
        for language, names in lists.items():
            with self.subTest(binding=language):
                self.assertEqual(sorted(names), sorted(want), language)
                self.assertEqual(len(names), len(set(names)), language)


class ParameterRules(unittest.TestCase):
    def test_the_python_rules_agree_with_the_shared_cases(self):
        cases = 0
        for line in _read("tests", "tools", "common", "param_cases.txt").split("\n"):
            if not line or line.startswith("#"):
                continue
            type_code, verdict, value = line.split("\t", 2)
            with self.subTest(line=line):
                try:
                    tarvo._check_param("Nome", tarvo.Param(value, int(type_code)))
                    refused = False
                except ValueError:
                    refused = True
                self.assertEqual(refused, verdict == "refused")
            cases += 1
        self.assertGreater(cases, 10)


if __name__ == "__main__":
    unittest.main()
