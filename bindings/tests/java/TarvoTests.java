// The Java binding against the emulator over a pseudo-terminal.
//
//   java -cp ... TarvoTests CASE...     (no CASE: every case)
//
// Needs TARVO_EMU (tarvo-emu), the library (TARVO_LIBRARY or the library
// search path), TARVO_CLI for the port explanations, TARVO_PARAM_CASES for
// "rules", and for "example" TARVO_JAVA and TARVO_VENDA_CLASSPATH.

import com.sun.jna.ptr.IntByReference;
import java.io.File;
import java.math.BigDecimal;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.LocalTime;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.TimeUnit;
import tarvo.Codes;
import tarvo.Cp1252;
import tarvo.FcCommand;
import tarvo.OutcomeUnknownException;
import tarvo.Param;
import tarvo.Parameters;
import tarvo.PortException;
import tarvo.Printer;
import tarvo.PrinterException;
import tarvo.ProtocolException;
import tarvo.Result;
import tarvo.Tarvo;
import tarvo.TarvoException;
import tarvo.TarvoLibrary;

public final class TarvoTests {
    private TarvoTests() {}

    interface Case {
        void run() throws Exception;
    }

    private static final Map<String, Case> CASES = new LinkedHashMap<>();

    static {
        CASES.put("layout", TarvoTests::layout);
        CASES.put("sale", () -> { sale(false); sale(true); });
        CASES.put("printer_error", TarvoTests::printerError);
        CASES.put("protocol_failure", TarvoTests::protocolFailure);
        CASES.put("outcome_unknown_cut", TarvoTests::outcomeUnknownCut);
        CASES.put("outcome_unknown_silence", TarvoTests::outcomeUnknownSilence);
        CASES.put("refused", () -> { refused(false); refused(true); });
        CASES.put("threads", () -> { threads(false); threads(true); });
        CASES.put("port", TarvoTests::port);
        CASES.put("rules", TarvoTests::rules);
        CASES.put("example", TarvoTests::example);
    }

    public static void main(String[] args) {
        int failed = 0;
        for (String name : args.length > 0 ? java.util.Arrays.asList(args) : CASES.keySet()) {
            try {
                CASES.get(name).run();
                System.out.println("ok   " + name);
            } catch (Throwable e) {
                System.out.println("FAIL " + name + ": " + e);
                e.printStackTrace(System.out);
                failed++;
            }
        }
        System.exit(failed == 0 ? 0 : 1);
    }

    // ---- Assertions

    static void equal(Object want, Object got, String what) {
        if (!Objects.equals(want, got)) {
            throw new AssertionError(what + ": want <" + want + ">, got <" + got + ">");
        }
    }

    static void isTrue(boolean condition, String what) {
        if (!condition) throw new AssertionError(what);
    }

    static <E extends Throwable> E throwsIt(Class<E> type, Case action, String what) throws Exception {
        try {
            action.run();
        } catch (Throwable e) {
            if (type.isInstance(e)) return type.cast(e);
            throw new AssertionError(what + ": " + e + " is no " + type.getSimpleName(), e);
        }
        throw new AssertionError(what + ": no " + type.getSimpleName());
    }

    static byte[] z(String text) {
        return Cp1252.encode(text, "test");
    }

    static Parameters params(Object... nameValue) {
        Parameters p = new Parameters();
        for (int i = 0; i < nameValue.length; i += 2) p.add((String) nameValue[i], nameValue[i + 1]);
        return p;
    }

    // ---- Cases

    // The record as the library reads and clears it, and every one of the
    // 25 entry names reached with its arguments.
    static void layout() throws Exception {
        FcCommand.checkLayout();
        TarvoLibrary lib = Tarvo.library();
        try (Emulator emu = new Emulator()) {
            equal(0, lib.FC_Inicializa(z(emu.path)), "FC_Inicializa");
            equal(0, lib.FC_Operacao(0, FcCommand.create("AbreCupom", "", 0), null, null), "AbreCupom");
            FcCommand cmd = FcCommand.create("VendeItem", "NumeroItem TotalItem Ausente", 7000);
            cmd.setParam(0, "Descricao", "P\u00e3o de queijo", Codes.TYPE_QUOTED);
            cmd.setParam(1, "PrecoUnitario", "4,50", Codes.TYPE_PLAIN);
            cmd.setParam(2, "Quantidade", "3", Codes.TYPE_PLAIN);
            // Read only up to numParam: the fourth entry never reaches the printer.
            cmd.setParam(3, "Unidade", "kg", Codes.TYPE_QUOTED);
            byte[] text = new byte[Codes.FC_TEXT_SIZE];
            IntByReference length = new IntByReference(-1);
            equal(0, lib.FC_Operacao(3, cmd, length, text), "VendeItem");
            equal("\"1\" \"13,50\" \"\"", Cp1252.decode(text, length.getValue()), "values");
            // The library cleared command, names and time-out in our record.
            equal("", Cp1252.decode(cmd.command), "command cleared");
            equal("", Cp1252.decode(cmd.returnNames), "returnNames cleared");
            equal(0, cmd.timeoutMs, "timeoutMs cleared");
            equal("3", Cp1252.decode(cmd.params[2].value), "entry kept");
            String frame = last(emu.requests());
            isTrue(frame.contains(
                    ";VendeItem;Descricao=\"P\\xE3o de queijo\" PrecoUnitario=4,50 Quantidade=3;"), frame);
            equal(0, lib.FC_Finaliza(), "FC_Finaliza");
            equal(Codes.BAD_HANDLE, lib.FC_Finaliza(), "second FC_Finaliza");

            int h = lib.TARVO_IniciaDriver(z(emu.path));
            equal(Codes.OK_HANDLE, h, "TARVO_IniciaDriver");
            lib.TARVO_DefineTimeout(h, 6000);
            equal(0, lib.TARVO_DoMessage(), "TARVO_DoMessage");
            equal(0, lib.DoMessage(), "DoMessage");
            equal(0, lib.TARVO_LimpaParams(h), "TARVO_LimpaParams");
            equal(0, lib.TARVO_AdicionaParam(h, z("NomeTexto"), z("NumeroSerieECF"), 7), "TARVO_AdicionaParam");
            equal(Codes.ANSWERED, lib.TARVO_ExecutaComando(h, z("LeTexto")), "TARVO_ExecutaComando");
            equal(0, lib.TARVO_ObtemCodErro(h), "TARVO_ObtemCodErro");
            byte[] name = new byte[Codes.ERROR_NAME_SIZE];
            lib.TARVO_ObtemNomeErro(h, name, name.length);
            equal("OK", Cp1252.decode(name), "TARVO_ObtemNomeErro");
            byte[] circumstance = new byte[Codes.CIRCUMSTANCE_SIZE];
            equal(0, lib.TARVO_ObtemCircunstancia(h, circumstance, circumstance.length),
                    "TARVO_ObtemCircunstancia");
            byte[] value = new byte[Codes.VALUE_SIZE];
            equal(10, lib.TARVO_Retorno(h, 0, z("ValorTexto"), 0, value, 0), "TARVO_Retorno");
            equal("EMU0000001", Cp1252.decode(value), "TARVO_Retorno value");
            equal(0, lib.TARVO_EncerraDriver(h), "TARVO_EncerraDriver");

            h = lib.IniciaDriver(z(emu.path));
            equal(Codes.OK_HANDLE, h, "IniciaDriver");
            lib.DefineTimeout(h, 6000);
            equal(0, lib.LimpaParams(h), "LimpaParams");
            equal(0, lib.AdicionaParam(h, z("NomeInteiro"), z("ECF"), 0), "AdicionaParam");
            equal(Codes.ANSWERED, lib.ExecutaComando(h, z("LeInteiro")), "ExecutaComando");
            equal(0, lib.ObtemCodErro(h), "ObtemCodErro");
            lib.ObtemNomeErro(h, name, name.length);
            equal("OK", Cp1252.decode(name), "ObtemNomeErro");
            equal(0, lib.ObtemCircunstancia(h, circumstance, circumstance.length), "ObtemCircunstancia");
            equal(1, lib.Retorno(h, 0, z("ValorInteiro"), 0, value, 0), "Retorno");
            equal("1", Cp1252.decode(value), "Retorno value");
            equal(Codes.BAD_HANDLE, lib.ObtemCodErro(h + 1), "wrong handle");
            equal(0, lib.EncerraDriver(h), "EncerraDriver");
        }
    }

    static String last(List<String> items) {
        isTrue(!items.isEmpty(), "no request logged");
        return items.get(items.size() - 1);
    }

    // A whole sale, typed parameters, cp1252 both ways.
    static void sale(boolean facade) throws Exception {
        try (Emulator emu = new Emulator(); Printer p = new Printer(emu.path, facade)) {
            Result r = p.run("AbreCupom", "COO", params("Consumidor", "Jos\u00e9 da Silva"));
            equal("OK 1", r.name + " " + r.get("COO"), "AbreCupom");
            r = p.run("VendeItem", "NumeroItem TotalCupom", params("Descricao", "Ma\u00e7\u00e3 gala",
                    "PrecoUnitario", new BigDecimal("3.25"), "Quantidade", 2, "CodigoProduto", "789"));
            equal("1 6,50", r.get("NumeroItem") + " " + r.get("TotalCupom"), "VendeItem");
            equal(new BigDecimal("6.50"), r.decimal("TotalCupom"), "TotalCupom as BigDecimal");
            r = p.run("PagaCupom", "Troco", params("MeioPagamento", "Dinheiro", "Valor", Param.plain("10,00")));
            equal(new BigDecimal("3.50"), r.decimal("Troco"), "Troco");
            r = p.run("EncerraCupom", "COO TotalCupom").check();
            equal(1, r.integer("COO"), "COO");
            equal("6,50", p.value("TotalCupom"), "value() after the command");
            isTrue(p.run("LeImpressao", "TextoImpressao").get("TextoImpressao").contains("Ma\u00e7\u00e3 gala"),
                    "the receipt read back in cp1252");
            r = p.run("LeDataHora", "Data Hora");
            r.date("Data");
            r.time("Hora");
            p.close();
            isTrue(emu.paper().contains("Ma\u00e7\u00e3 gala"), "paper");
            isTrue(emu.requests().stream().anyMatch(f -> f.contains(
                    "Descricao=\"Ma\\xE7\\xE3 gala\" PrecoUnitario=3,25 Quantidade=2 CodigoProduto=\"789\"")),
                    "frame: " + emu.requests());
        }
        Param date = Param.of(LocalDate.of(2026, 3, 1));
        Param time = Param.of(LocalTime.of(9, 5, 7));
        equal("01/03/2026 2 09:05:07 3", date.value + " " + date.type + " " + time.value + " " + time.type,
                "date and time");
        equal("1234,50", Param.of(new BigDecimal("1234.50")).value, "decimal comma");
    }

    static void printerError() throws Exception {
        for (boolean facade : new boolean[] {false, true}) {
            try (Emulator emu = new Emulator(); Printer p = new Printer(emu.path, facade)) {
                Result r = p.run("PagaCupom", "Troco", params("MeioPagamento", "Dinheiro", "Valor", 1));
                equal("6 ErroCupomFechado false", r.code + " " + r.name + " " + r.ok(), "PagaCupom");
                isTrue(!r.circumstance.isEmpty(), "circumstance");
                isTrue(r.values.isEmpty(), "no values after an error");
                PrinterException e = throwsIt(PrinterException.class, r::check, "check");
                equal(6, e.code, "PrinterException.code");
                equal("ErroCupomFechado", e.name, "PrinterException.name");
                // After an error Retorno gives the code, not a count: refused.
                equal(6, throwsIt(TarvoException.class, () -> p.value("COO"), "value").code,
                        "value after an error");
            }
        }
    }

    static void protocolFailure() throws Exception {
        for (boolean facade : new boolean[] {false, true}) {
            try (Emulator emu = new Emulator(); Printer p = new Printer(emu.path, facade)) {
                // Three bad answers: the facade's two resends fail too.
                emu.arm("badlength 3");
                ProtocolException e = throwsIt(ProtocolException.class,
                        () -> p.run("LeTexto", "ValorTexto", params("NomeTexto", "Marca")), "badlength");
                isTrue(!(e instanceof OutcomeUnknownException), "a reading command's outcome is known");
                equal(Codes.PROTOCOL_FAILURE, e.code, "code");
                equal("ErroProtTimeout", e.name, "name");
                equal("Erro de Secao ou CRC", e.circumstance, "circumstance");
                emu.arm("clear");
                equal("1", p.run("LeInteiro", "ValorInteiro", params("NomeInteiro", "ECF"))
                        .get("ValorInteiro"), "after the failure");
            }
        }
        // Two bad answers: the facade resends the same frame and succeeds.
        try (Emulator emu = new Emulator(); Printer p = new Printer(emu.path, true)) {
            int before = emu.requests().size();
            emu.arm("badlength 2");
            Result r = p.run("LeTexto", "ValorTexto", params("NomeTexto", "NumeroSerieECF"));
            equal("EMU0000001", r.get("ValorTexto"), "value after the resends");
            List<String> sent = emu.requests().subList(before, emu.requests().size());
            equal(3, sent.size(), "LeTexto sent three times");
            equal(1, new java.util.HashSet<>(sent).size(), "the same frame, id included: " + sent);
        }
    }

    // ---- Outcome unknown: the item counts once, whatever the host then does.

    static Parameters cheese() {
        return params("Descricao", "Queijo minas", "PrecoUnitario", new BigDecimal("20.00"));
    }

    static Printer lostAnswer(Emulator emu, String fault, boolean facade) throws Exception {
        Printer p = new Printer(emu.path, facade);
        p.run("AbreCupom").check();
        emu.arm(fault);
        OutcomeUnknownException e = throwsIt(OutcomeUnknownException.class,
                () -> p.run("VendeItem", "NumeroItem", cheese()), fault);
        equal(Codes.PROTOCOL_FAILURE, e.code, "code");
        equal("Erro de Recepcao", e.circumstance, "circumstance");
        isTrue(e.requestSent, "the request went out whole");
        isTrue(e.getMessage().contains("check the printer"), e.getMessage());
        // A blind repeat of the very same sale is refused before it is sent.
        int before = emu.requests().size();
        throwsIt(OutcomeUnknownException.class, () -> p.run("VendeItem", "NumeroItem", cheese()), "repeat");
        equal(before, emu.requests().size(), "the repeat was not sent");
        return p;
    }

    static void countedOnce(Emulator emu, Printer p) {
        String paper = emu.paper();
        equal(1, paper.split("Queijo minas", -1).length - 1, "the item on paper once:\n" + paper);
        equal("2", p.run("VendeItem", "NumeroItem", params("Descricao", "Pao", "PrecoUnitario", 1))
                .get("NumeroItem"), "the next item's number");
    }

    // A cut answer; the host checks with a reading command, after which a
    // retransmission would repeat that command and is refused.
    static void outcomeUnknownCut() throws Exception {
        try (Emulator emu = new Emulator(); Printer p = lostAnswer(emu, "cut 1", false)) {
            p.run("LeInteiro", "ValorInteiro", params("NomeInteiro", "ECF"));
            throwsIt(IllegalStateException.class, () -> p.retransmit(), "retransmit after a check");
            throwsIt(OutcomeUnknownException.class, () -> p.run("VendeItem", "", cheese()), "still unknown");
            p.resolveUnknown();
            countedOnce(emu, p);
        }
    }

    // Silence through the facade (which never resends VendeItem); the safe
    // retry, twice, gets the remembered answer with the same frame.
    static void outcomeUnknownSilence() throws Exception {
        try (Emulator emu = new Emulator(); Printer p = lostAnswer(emu, "silence 1", true)) {
            String first = last(emu.requests());
            equal("1", p.retransmit("NumeroItem").get("NumeroItem"), "retransmitted");
            equal("1", p.retransmit("NumeroItem").get("NumeroItem"), "retransmitted again");
            List<String> sent = emu.requests();
            equal(Collections.nCopies(2, first), sent.subList(sent.size() - 2, sent.size()),
                    "the same frame, id included");
            countedOnce(emu, p);
        }
    }

    // Values that would break the frame, or that can't be sent as they are
    // meant, are refused before anything reaches the printer.
    static void refused(boolean facade) throws Exception {
        try (Emulator emu = new Emulator(); Printer p = new Printer(emu.path, facade)) {
            int before = emu.requests().size();
            List<Case> bad = new ArrayList<>();
            bad.add(() -> params("Descricao", "Tela 15\" LED"));
            bad.add(() -> params("PrecoUnitario", Param.plain("4,50 Quantidade=9")));
            bad.add(() -> new Parameters().add("Data", "01/01/2026# X=1", Codes.TYPE_DATE));
            bad.add(() -> params("Descricao", "a\0b"));
            bad.add(() -> params("Descricao", "\u2713"));
            bad.add(() -> params("Valor", 1.5));
            bad.add(() -> params("Valor", 1.5f));
            bad.add(() -> params("Quantidade", true));
            bad.add(() -> params("Data", LocalDateTime.of(2026, 1, 1, 10, 0)));
            bad.add(() -> params("Nome=X", "1"));
            bad.add(() -> p.run(""));
            bad.add(() -> p.run("Le Texto"));
            bad.add(() -> p.run("LeTexto;1"));
            bad.add(() -> p.run("LeTexto", "Valor\u2713"));
            bad.add(() -> p.run(new String(new char[facade ? 30 : 60]).replace('\0', 'A')));
            for (int i = 0; i < bad.size(); i++) {
                throwsIt(IllegalArgumentException.class, bad.get(i), "bad value " + i);
            }
            String x300 = new String(new char[300]).replace('\0', 'x');
            equal(Codes.TOO_LONG, throwsIt(TarvoException.class, () -> p.run("VendeItem", "",
                    params("Descricao", x300, "CodigoProduto", x300)), "overlong").code, "overlong");
            if (facade) {
                // Longer than the record's 493 characters, shorter than the 511 in all.
                String x494 = new String(new char[494]).replace('\0', 'x');
                throwsIt(IllegalArgumentException.class,
                        () -> p.run("VendeItem", "", params("Descricao", x494)), "record field");
                Parameters many = new Parameters();
                for (int i = 0; i < 18; i++) many.add("P" + i, i);
                throwsIt(IllegalArgumentException.class, () -> p.run("VendeItem", "", many), "18 parameters");
            }
            equal(before, emu.requests().size(), "nothing sent");
            p.run("AbreCupom").check();
            isTrue(last(emu.requests()).matches("^\\{\\d+;AbreCupom;;\\d+\\}$"),
                    "nothing left staged: " + last(emu.requests()));
        }
    }

    // Two threads sharing a Printer: every command whole, every answer its
    // own. Without the lock the library refuses the second ExecutaComando
    // (busy) or one thread's parameters go out with the other's command.
    static void threads(boolean facade) throws Exception {
        List<String> errors = Collections.synchronizedList(new ArrayList<>());
        try (Emulator emu = new Emulator(); Printer p = new Printer(emu.path, facade)) {
            Thread[] threads = {
                worker(p, errors, "LeTexto", "NomeTexto", "NumeroSerieECF", "ValorTexto", "EMU0000001"),
                worker(p, errors, "LeInteiro", "NomeInteiro", "ECF", "ValorInteiro", "1"),
            };
            for (Thread t : threads) t.start();
            for (Thread t : threads) {
                t.join(TimeUnit.SECONDS.toMillis(60));
                isTrue(!t.isAlive(), "thread ended");
            }
            equal(30, emu.requests().size() - (facade ? 2 : 0), "every command sent once");
        }
        equal("[]", errors.toString(), "errors");
    }

    static Thread worker(Printer p, List<String> errors, String command, String param, String value,
            String name, String want) {
        return new Thread(() -> {
            try {
                for (int i = 0; i < 15; i++) {
                    Result r = p.run(command, name, params(param, value));
                    if (!want.equals(r.get(name))) errors.add(command + ": " + r.get(name));
                }
            } catch (RuntimeException e) {
                errors.add(e.toString());
            }
        });
    }

    // A refused port says why, with the facts of `tarvo why --json`.
    static void port() throws Exception {
        // Never created; short, since a device path has at most 39 characters.
        String missing = "/tmp/tarvo-none-" + ProcessHandle.current().pid() + "/dev/ttyUSB9";
        for (boolean facade : new boolean[] {false, true}) {
            PortException e = throwsIt(PortException.class, () -> new Printer(missing, facade), "open");
            equal(Codes.BAD_CHANNEL, e.code, "code");
            equal(missing + " given missing", e.device + " " + e.mapping + " " + e.cause, "facts");
            isTrue(e.getMessage().contains(missing + " does not exist"), e.getMessage());
        }
        equal("bad-name", PortException.explain("COM9").get("cause"), "COM9");
    }

    // The binding refuses exactly the values the library's own rules refuse
    // (the shared cases in TARVO_PARAM_CASES); needs no library.
    static void rules() throws Exception {
        int cases = 0;
        for (String line : Files.readAllLines(new File(System.getenv("TARVO_PARAM_CASES")).toPath(),
                StandardCharsets.UTF_8)) {
            if (line.isEmpty() || line.startsWith("#")) continue;
            String[] f = line.split("\t", 3);
            boolean refused;
            try {
                new Parameters().add("Nome", f.length > 2 ? f[2] : "", Integer.parseInt(f[0]));
                refused = false;
            } catch (IllegalArgumentException e) {
                refused = true;
            }
            equal(f[1].equals("refused"), refused, "refused: " + line);
            cases++;
        }
        isTrue(cases > 10, "the cases were read");
    }

    // The example program sells on the emulator.
    static void example() throws Exception {
        try (Emulator emu = new Emulator()) {
            Process venda = new ProcessBuilder(System.getenv("TARVO_JAVA"), "-cp",
                    System.getenv("TARVO_VENDA_CLASSPATH"), "Venda", emu.path)
                    .redirectErrorStream(true).start();
            String output = new String(readAll(venda), StandardCharsets.UTF_8);
            isTrue(venda.waitFor(60, TimeUnit.SECONDS), "Venda ended");
            equal(0, venda.exitValue(), "exit code; output: " + output);
            equal(String.join("\n", "Printer: \"EMU0000001\"", "Receipt: \"1\"", "Item: \"1\" \"6,50\"",
                    "Item: \"2\" \"19,40\"", "Payment: \"0,00\" \"0,60\"", "Closed: \"1\" \"19,40\""),
                    output.trim().replace("\r\n", "\n"), "output");
            String paper = emu.paper();
            for (String line : new String[] {"7891000100103 Ma\u00e7\u00e3 gala", "2 x 3,25",
                    "Obrigado, volte sempre"}) {
                isTrue(paper.contains(line), "paper lacks " + line + ":\n" + paper);
            }
        }
    }

    static byte[] readAll(Process p) throws java.io.IOException {
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        byte[] chunk = new byte[4096];
        for (int n; (n = p.getInputStream().read(chunk)) > 0; ) out.write(chunk, 0, n);
        return out.toByteArray();
    }
}
