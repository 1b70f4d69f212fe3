#!/usr/bin/env bash
# A sale on the printer emulator, through the driver library and the
# command-line host: identify the printer, open a receipt, sell two items,
# pay, close, read the printed text back, then show the receipt and the
# driver's trace.
#
# Usage: scripts/demo.sh BUILD_DIR      (after "make build"; "make demo")
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
emu="$build/tools/tarvo-emu"
cli="$build/tools/tarvo"
for program in "$emu" "$cli"; do
  if [ ! -x "$program" ]; then
    echo "$0: $program is missing; run 'make build' first" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-demo.XXXXXX")
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ] && kill -0 "$emu_pid" 2>/dev/null; then
    kill -TERM "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ -t 1 ]; then
  section() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  section() { printf '\n== %s\n' "$*"; }
fi

# The emulator prints its pseudo-terminal on the first line of its output;
# reading that line waits exactly until it is ready.
section "Starting the printer emulator"
coproc EMU { exec "$emu" --serial DEMO000123 --ecf 7 --paper "$work/paper.txt" \
  2>"$work/emulator.log"; }
emu_pid=$EMU_PID
if ! read -r port <&"${EMU[0]}"; then
  echo "$0: the emulator did not start:" >&2
  cat "$work/emulator.log" >&2
  exit 1
fi
echo "tarvo-emu (pid $emu_pid) serves $port"

section "Identifying the printer (FC_Inicializa)"
echo "\$ tarvo -p $port identify"
"$cli" -p "$port" identify

section "A sale, one command per line, with the driver's trace switched on"
cat >"$work/sale.txt" <<'SALE'
AbreCupom -r COO
VendeItem CodigoProduto:7=7891000100103 Descricao:7="Cafe expresso" Quantidade=2 PrecoUnitario=4,50 -r TotalCupom
VendeItem CodigoProduto:7=7891000200209 Descricao:7="Pao de queijo" Quantidade=3 PrecoUnitario=2,75 -r TotalCupom
PagaCupom MeioPagamento:7=Dinheiro Valor=20,00 -r Troco
EncerraCupom Mensagem:7="Obrigado pela preferencia" -r COO
SALE
sed 's/^/    /' "$work/sale.txt"
echo "\$ tarvo -p $port --trace-dir TRACE -f sale.txt"
"$cli" -p "$port" --trace-dir "$work/trace" -f "$work/sale.txt" 2>"$work/trace.txt"

section "Reading the printed text back (LeImpressao)"
echo "\$ tarvo -p $port -q LeImpressao -r TextoImpressao"
"$cli" -p "$port" -q LeImpressao -r TextoImpressao >"$work/readback.txt"
cat "$work/readback.txt"
# What the driver read back must be what the emulator printed.
if ! diff -q <(sed -n '/CUPOM FISCAL/,$p' "$work/paper.txt") \
             <(sed -n '/CUPOM FISCAL/,$p' "$work/readback.txt" | sed '$d') >/dev/null; then
  echo "$0: the text read back differs from the paper the emulator printed" >&2
  exit 1
fi

section "The driver's trace (frames sent and received)"
cat "$work/trace.txt"

section "The emulator's log"
cat "$work/emulator.log"

section "Stopping the emulator"
kill -TERM "$emu_pid"
wait "$emu_pid" || true
emu_pid=""
echo "done"
