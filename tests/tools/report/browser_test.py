#!/usr/bin/env python3
"""Opens a page made by `tarvo report` in headless Chromium: the page must
load with no network and no script, show the same figures as --json, and
render to a screenshot (WORK/page.png, kept for a person to look at).

Usage: browser_test.py TARVO WORK LOG...
Exits 77 (skipped) when no Chromium is installed.
"""
import html.parser
import json
import os
import shutil
import subprocess
import sys
import tempfile

# Chromium starts slowly on a loaded machine; generous, but bounded.
BROWSER_TIMEOUT = 180
WIDTH, HEIGHT = 1100, 2400


class Dom(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.figures = {}
        self.buckets = {}
        self.failure_rows = 0
        self.trouble_rows = 0
        self.verdict = None
        self.command_rows = []
        self.note_kinds = set()
        self.bar_titles = []
        self._in_bar = False
        self.bars = {}
        self.scripts = 0
        self._capture = None
        self._in_svg = 0

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "script":
            self.scripts += 1
        if tag == "svg":
            self._in_svg += 1
        if tag == "rect" and "data-outcome" in a:
            self.bars[a["data-outcome"]] = self.bars.get(a["data-outcome"], 0) + 1
            self._in_bar = True
        if tag == "title" and self._in_bar:
            self._capture = ("title", None)
        if a.get("id") == "verdict":
            self._capture = ("verdict", None)
        elif "data-figure" in a:
            self._capture = ("figure", a["data-figure"])
        elif "data-bucket" in a:
            self._capture = ("bucket", int(a["data-bucket"]))
        if tag == "tr" and "data-kind" in a:
            self.failure_rows += 1
        if tag == "tr" and "data-note" in a:
            self.note_kinds.add(a["data-note"])
        if tag == "tr" and "data-trouble" in a:
            self.trouble_rows += 1
        if tag == "tr" and "data-command" in a:
            self.command_rows.append(a["data-command"])

    def handle_endtag(self, tag):
        if tag == "rect":
            self._in_bar = False
        if tag == "svg":
            self._in_svg -= 1

    def handle_data(self, data):
        if self._capture:
            kind, key = self._capture
            if kind == "verdict":
                self.verdict = data
            elif kind == "title":
                self.bar_titles.append(data)
            else:
                (self.figures if kind == "figure" else self.buckets)[key] = int(data)
            self._capture = None


def browser():
    for name in ("chromium", "chromium-headless-shell", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


def run_browser(exe, profile, extra, url):
    args = [exe, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--disable-extensions",
            "--user-data-dir=" + profile] + extra + [url]
    return subprocess.run(args, capture_output=True, text=True, timeout=BROWSER_TIMEOUT,
                          check=True).stdout


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def check(cond, message, failures):
    if not cond:
        failures.append(message)


def main():
    tarvo, work, logs = sys.argv[1], sys.argv[2], sys.argv[3:]
    exe = browser()
    if exe is None:
        print("no chromium installed: skipped (scripts/install-deps.sh installs it)")
        return 77
    os.makedirs(work, exist_ok=True)
    page = os.path.join(work, "page.html")
    shot = os.path.join(work, "page.png")
    for old in (page, shot):
        if os.path.exists(old):
            os.remove(old)
    facts = json.loads(subprocess.run([tarvo, "report", "--json", "-o", page] + logs,
                                      capture_output=True, text=True, timeout=60,
                                      check=True).stdout)
    url = "file://" + os.path.abspath(page)
    with tempfile.TemporaryDirectory(dir=work) as profile:
        dom_text = run_browser(exe, profile, ["--dump-dom"], url)
    with tempfile.TemporaryDirectory(dir=work) as profile:
        run_browser(exe, profile, ["--hide-scrollbars", "--window-size=%d,%d" % (WIDTH, HEIGHT),
                                   "--screenshot=" + shot], url)

    dom = Dom()
    dom.feed(dom_text)
    failures = []
    check(dom.scripts == 0, "the page holds a script", failures)
    check(dom.verdict == facts["verdict"], "verdict: page %r, JSON %r"
          % (dom.verdict, facts["verdict"]), failures)
    check(len(dom.figures) >= 10, "figures missing from the page: %s" % dom.figures, failures)
    for name, value in dom.figures.items():
        check(facts["figures"].get(name) == value,
              "figure %s: page %s, JSON %s" % (name, value, facts["figures"].get(name)), failures)
    for b, n in dom.buckets.items():
        want = facts["answerSeconds"][b] + facts["failureSeconds"][b]
        check(n == want, "answer-time bucket %d: page %d, JSON %d" % (b, n, want), failures)
    check(len(dom.buckets) == len(facts["answerSeconds"]), "answer-time buckets missing", failures)
    check(dom.note_kinds == set(n["kind"] for n in facts["notes"]),
          "note rows: page %s, JSON %s" % (dom.note_kinds, facts["notes"]), failures)
    # Each bar's tooltip shows the request frame it stands for.
    framed = [e["request"] for e in facts["exchanges"] if e["request"]]
    if 0 < len(framed) and facts["figures"]["exchanges"] <= 600:
        check(any(framed[0] in t for t in dom.bar_titles),
              "no tooltip shows the frame %r" % framed[0], failures)
    check(dom.failure_rows == len(facts["failures"]),
          "failure rows: page %d, JSON %d" % (dom.failure_rows, len(facts["failures"])), failures)
    answered = ("ok", "unfinished")
    trouble = sum(1 for e in facts["exchanges"] if e["outcome"] in answered and (
        e["discarded"] or e["staleIds"] or e["wokeByBreak"] or e["ctsHeld"]))
    check(dom.trouble_rows == trouble,
          "trouble rows: page %d, JSON %d" % (dom.trouble_rows, trouble), failures)
    check(sorted(dom.command_rows) == sorted(c["command"] for c in facts["commands"]),
          "per-command rows differ from JSON", failures)
    # One timeline bar per exchange, coloured by its outcome.
    exchanges = facts["figures"]["exchanges"]
    if exchanges <= 600:
        for key in ("ok", "printer-error", "no-answer", "bad-length", "no-cts"):
            want = sum(1 for e in facts["exchanges"] if e["outcome"] == key)
            check(dom.bars.get(key, 0) == want, "timeline bars %s: page %d, JSON %d"
                  % (key, dom.bars.get(key, 0), want), failures)
        check(sum(dom.bars.values()) == exchanges, "timeline bars: %d for %d exchanges"
              % (sum(dom.bars.values()), exchanges), failures)
    size = png_size(shot)
    check(size == (WIDTH, HEIGHT), "screenshot size %s" % (size,), failures)
    # A page that failed to render is one flat colour and compresses to a
    # few kilobytes; this one has text, tables and charts.
    check(os.path.getsize(shot) > 40000, "screenshot looks empty (%d bytes)"
          % os.path.getsize(shot), failures)
    for f in failures:
        print("FAIL:", f)
    print("checked %d figures, %d buckets, %d failure rows; screenshot %s"
          % (len(dom.figures), len(dom.buckets), dom.failure_rows, shot))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
